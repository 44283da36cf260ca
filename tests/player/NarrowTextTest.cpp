#include <gtest/gtest.h>

#include "NarrowText.h"

TEST(NarrowText, AsciiIsCopiedWhole) {
    std::string out;
    ASSERT_TRUE(ToNarrowText(QStringLiteral("rtsp://127.0.0.1/live"), out));
    EXPECT_EQ(out, "rtsp://127.0.0.1/live");
}

TEST(NarrowText, ChineseBecomesUtf8) {
    std::string out;
    ASSERT_TRUE(ToNarrowText(QStringLiteral("桌面/录像.qf"), out));
    EXPECT_EQ(out, "\xE6\xA1\x8C\xE9\x9D\xA2/\xE5\xBD\x95\xE5\x83\x8F.qf");
}

TEST(NarrowText, LongestFittingTextIsAccepted) {
    std::string out;
    ASSERT_TRUE(ToNarrowText(QString(255, QLatin1Char('a')), out));
    EXPECT_EQ(out.size(), 255u);
}

TEST(NarrowText, TextOneByteTooLongIsRefused) {
    std::string out = "stale";
    EXPECT_FALSE(ToNarrowText(QString(256, QLatin1Char('a')), out));
    EXPECT_TRUE(out.empty());
}

TEST(NarrowText, LimitCountsBytesNotCharacters) {
    // 85 Chinese characters take 255 bytes, 86 take 258.
    std::string out;
    EXPECT_TRUE(ToNarrowText(QString(85, QChar(0x4E2D)), out));
    EXPECT_EQ(out.size(), 255u);
    EXPECT_FALSE(ToNarrowText(QString(86, QChar(0x4E2D)), out));
}

TEST(NarrowText, EmbeddedNulIsRefused) {
    std::string out;
    QString text = QStringLiteral("abc");
    text.insert(1, QChar(0));
    EXPECT_FALSE(ToNarrowText(text, out));
}
