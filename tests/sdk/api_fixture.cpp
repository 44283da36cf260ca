#include "api_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace Brelso::ApiTests {

void FrameCollector::onData(int32_t handle, uint32_t dataType, uint8_t* buffer, uint32_t size,
                            void* user) {
    auto* self = static_cast<FrameCollector*>(user);
    Delivered delivered{handle, dataType, Bytes(buffer, buffer + size)};
    {
        std::lock_guard lock(self->m_mutex);
        self->m_frames.push_back(std::move(delivered));
    }
    self->m_changed.notify_all();
}

std::vector<Delivered> FrameCollector::frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

size_t FrameCollector::count() const {
    std::lock_guard lock(m_mutex);
    return m_frames.size();
}

size_t FrameCollector::count(uint32_t dataType) const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(std::count_if(
        m_frames.begin(), m_frames.end(), [&](const auto& f) { return f.dataType == dataType; }));
}

bool FrameCollector::waitFor(const std::function<bool(const std::vector<Delivered>&)>& done,
                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_frames); });
}

bool FrameCollector::waitForCount(uint32_t dataType, size_t n,
                                  std::chrono::milliseconds timeout) const {
    return waitFor(
        [&](const std::vector<Delivered>& frames) {
            return static_cast<size_t>(
                       std::count_if(frames.begin(), frames.end(),
                                     [&](const auto& f) { return f.dataType == dataType; })) >= n;
        },
        timeout);
}

void ApiTest::SetUp() {
    m_previousDir = std::filesystem::current_path().string();
    std::filesystem::create_directories(m_dir.file("D:/log"));
    std::filesystem::current_path(m_dir.path());
    ASSERT_EQ(KX_NET_Init(0, 0, 0xFF), 1);
}

void ApiTest::TearDown() {
    KX_NET_Cleanup();
    std::filesystem::current_path(m_previousDir);
}

int32_t ApiTest::play(uint16_t port, const std::string& path, bool tcp, const std::string& user,
                      const std::string& password) {
    m_login = KX_NET_Login("127.0.0.1", port, user.c_str(), password.c_str());
    EXPECT_GE(m_login, 1000);
    return KX_NET_RealPlay(m_login, 0, 0, tcp ? 1 : 0, path.c_str(), 0);
}

int32_t ApiTest::playInto(FrameCollector& collector, uint16_t port, const std::string& path,
                          bool tcp, const std::string& user, const std::string& password) {
    const int32_t handle = play(port, path, tcp, user, password);
    if (handle < 1000000) {
        ADD_FAILURE() << "KX_NET_RealPlay of " << path << " gave " << handle;
        return -1;
    }
    if (KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector) != 1) {
        ADD_FAILURE() << "KX_NET_SetRealDataCallBack refused play handle " << handle;
        return -1;
    }
    return handle;
}

std::string ApiTest::logText() const {
    std::string text;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.file("D:/log"))) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        const Bytes bytes = Testing::readFile(file.string());
        text.append(bytes.begin(), bytes.end());
    }
    return text;
}

size_t ApiTest::logLines(const std::string& text) const {
    const std::string log = logText();
    size_t count = 0;
    for (size_t pos = log.find(text); pos != std::string::npos; pos = log.find(text, pos + 1)) {
        ++count;
    }
    return count;
}

bool ApiTest::waitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (logText().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(200ms);
    }
    return logText().find(text) != std::string::npos;
}

Testing::InnerFrame inner(const Delivered& delivered) {
    Testing::InnerFrame frame;
    std::string error;
    EXPECT_TRUE(
        Testing::parseInnerFrame(delivered.bytes.data(), delivered.bytes.size(), frame, &error))
        << error;
    EXPECT_EQ(frame.dataType, delivered.dataType) << "data type field differs from the argument";
    return frame;
}

Bytes nalOf(const Testing::InnerFrame& frame) {
    const Bytes& p = frame.payload;
    if (p.size() >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1) {
        return Bytes(p.begin() + 4, p.end());
    }
    if (p.size() >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1) return Bytes(p.begin() + 3, p.end());
    return p;
}

std::vector<Bytes> smallGop() {
    const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8};
    const Bytes pps = {0x68, 0xCB, 0x83, 0xCB, 0x20};
    Bytes idr(1500, 0x65);
    idr[1] = 0x88;  // first_mb_in_slice 0: the first slice of its picture
    std::vector<Bytes> nals = {sps, pps, idr};
    for (int i = 0; i < 5; ++i) nals.push_back(Bytes(200 + i, 0x41));
    return nals;
}

}  // namespace Brelso::ApiTests
