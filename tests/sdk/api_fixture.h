// Shared pieces of the public-API tests: a fixture that runs each case in a fresh working
// folder holding "D:/log" (so the library writes its log there) between KX_NET_Init and
// KX_NET_Cleanup, and a data-callback collector.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "H264Stream.h"
#include "KXRtspSdk.h"
#include "PackagedFrameReader.h"
#include "TestMedia.h"

namespace Brelso::ApiTests {

using namespace std::chrono_literals;
using Testing::Bytes;

// One data-callback call, copied.
struct Delivered {
    int32_t handle = 0;
    uint32_t dataType = 0;
    Bytes bytes;  // the buffer exactly as handed over (inner part, or raw private payload)
};

class FrameCollector {
public:
    // The data callback: copies the call.
    static void onData(int32_t handle, uint32_t dataType, uint8_t* buffer, uint32_t size,
                       void* user);

    std::vector<Delivered> frames() const;
    size_t count() const;
    size_t count(uint32_t dataType) const;
    // Waits until the predicate over the frames so far holds. False on timeout.
    bool waitFor(const std::function<bool(const std::vector<Delivered>&)>& done,
                 std::chrono::milliseconds timeout) const;
    bool waitForCount(uint32_t dataType, size_t n, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Delivered> m_frames;
};

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Login + RealPlay of rtsp://127.0.0.1:<port><path>; returns the play handle or -1.
    int32_t play(uint16_t port, const std::string& path, bool tcp, const std::string& user = "",
                 const std::string& password = "");
    // play(), then the collector as the play's data callback. The play handle, or -1 (and a
    // failed check) when the play or the callback was refused.
    int32_t playInto(FrameCollector& collector, uint16_t port, const std::string& path, bool tcp,
                     const std::string& user = "", const std::string& password = "");
    // The whole log written so far (all files of today).
    std::string logText() const;
    // Number of log lines containing the text.
    size_t logLines(const std::string& text) const;
    // Waits until some log line contains the text.
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout) const;

    Testing::TempDir m_dir;
    std::string m_previousDir;
    int32_t m_login = -1;
};

// A small looping H.264 stream for the scripted server: parameter sets, a key frame, a few
// other slices.
std::vector<Bytes> smallGop();

// Parses a delivered packaged frame; fails the test on a malformed one.
Testing::InnerFrame inner(const Delivered& delivered);

// H.264 payload of a packaged frame without the start code in front.
Bytes nalOf(const Testing::InnerFrame& frame);

}  // namespace Brelso::ApiTests
