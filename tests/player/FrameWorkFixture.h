// A play controller with four counting render targets as its play windows. Every test leaves
// all four windows closed; TearDown checks that they are idle again.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>
#include <memory>

#include "CFrameWork.h"
#include "CountingRenderTarget.h"
#include "TestWait.h"

// Texts in test names and messages as the user typed them.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << text.toStdString();
}

class FrameWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < CFrameWork::kWindowCount; ++i) {
            m_frameWork.m_stPlayInfo[i].hPlayWnd = m_windows[i].Handle();
        }
    }

    void TearDown() override {
        for (int i = 0; i < CFrameWork::kWindowCount; ++i) {
            EXPECT_EQ(m_frameWork.ClosePlay(i), 1);
            ExpectIdle(i);
        }
    }

    void ExpectIdle(int i) {
        const PlayWndInfo& info = m_frameWork.m_stPlayInfo[i];
        EXPECT_EQ(info.hPlayWnd, m_windows[i].Handle()) << "window " << i;
        EXPECT_EQ(info.nPlayType, -1) << "window " << i;
        EXPECT_EQ(info.nPort, -1) << "window " << i;
        EXPECT_EQ(info.bSound, 0) << "window " << i;
        EXPECT_EQ(info.nVolume, 0) << "window " << i;
        EXPECT_EQ(info.nRotate, 0) << "window " << i;
        EXPECT_EQ(info.bNoFill, 0) << "window " << i;
        EXPECT_EQ(info.bPlayEnd, 0) << "window " << i;
        EXPECT_EQ(info.nFileType, -1) << "window " << i;
        EXPECT_EQ(info.bPause, 0) << "window " << i;
        EXPECT_EQ(info.llStartTime, 0) << "window " << i;
        EXPECT_EQ(info.llEndTime, 0) << "window " << i;
        EXPECT_EQ(info.lLoginHandle, -1) << "window " << i;
        EXPECT_EQ(info.lRealHandle, -1) << "window " << i;
        EXPECT_EQ(info.bRecord, 0) << "window " << i;
    }

    PlayWndInfo& Info(int i) { return m_frameWork.m_stPlayInfo[i]; }

    static QString Desktop() {
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    }

    CountingRenderTarget m_windows[CFrameWork::kWindowCount];
    CFrameWork m_frameWork;
};
