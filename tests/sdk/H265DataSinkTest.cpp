// The H.265 sink: parameter sets of the session description once and in order, frame types
// of the NAL units, the key frame's wall-clock time, the recording's start, damaged input.
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "CLog.h"
#include "H265DataSink.h"
#include "KXPackagedFrame.h"
#include "SinkHarness.h"

namespace kx::sdk::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// H.265 NAL unit: two-byte header (type, layer 0, temporal id 1), then a body.
Bytes hevc(int type, size_t size, uint8_t fill = 0xA5) {
    Bytes b(size, fill);
    b[0] = static_cast<uint8_t>(type << 1);
    b[1] = 1;
    return b;
}

const Bytes kVps = hevc(32, 24, 0x0C);
const Bytes kSps = hevc(33, 40, 0x01);
const Bytes kPps = hevc(34, 7, 0xC1);

std::string base64(const Bytes& b) {
    gchar* text = g_base64_encode(b.data(), b.size());
    std::string s(text);
    g_free(text);
    return s;
}

// A folder of its own for the log and the recording.
class H265DataSinkTest : public ::testing::Test {
protected:
    H265DataSinkTest() {
        m_dir =
            std::filesystem::temp_directory_path() / ("kx_h265_sink_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        auto* log = Brelso::Public::CLog::GetInstance();
        log->SetPathPrefix((m_dir.string() + "/NetSdk").c_str());
        log->SetLevelMask(0xFF);
    }
    ~H265DataSinkTest() override {
        Brelso::Public::CLog::GetInstance()->SetLevelMask(0);
        std::filesystem::remove_all(m_dir);
    }
    std::string logText() const {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            if (entry.path().extension() != ".log") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return all;
    }
    std::string file(const char* name) const { return (m_dir / name).string(); }
    uint16_t frameTypeOf(size_t i) const {
        const Bytes& b = h.delivered[i].bytes;
        return static_cast<uint16_t>(b[KX_INNER_OFF_FRAME_TYPE] |
                                     (b[KX_INNER_OFF_FRAME_TYPE + 1] << 8));
    }

    SinkHarness h;
    std::filesystem::path m_dir;
};

TEST_F(H265DataSinkTest, ParameterSetsOnceThenFramesWithTheirTypes) {
    const std::string vps = base64(kVps), sps = base64(kSps), pps = base64(kPps);
    H265DataSink* sink =
        H265DataSink::createNew(h.env(), &h.client(), vps.c_str(), sps.c_str(), pps.c_str());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    ASSERT_EQ(h.client().StartSave(file("rec.qf").c_str()), 1);
    const Bytes trail = hevc(1, 300);
    const Bytes cra = hevc(21, 500);
    const Bytes sei = hevc(39, 20);
    const Bytes startCoded = [] {
        Bytes b = {0, 0, 0, 1};
        const Bytes n = hevc(1, 30);
        b.insert(b.end(), n.begin(), n.end());
        return b;
    }();
    const time_t before = std::time(nullptr);
    h.play(sink, {makeFrame(trail, 100, 0), makeFrame(hevc(32, 24), 100, 40000),
                  makeFrame(sei, 100, 40000), makeFrame(cra, 100, 40000),
                  makeFrame(startCoded, 100, 80000)});
    h.client().StopSave();
    closeMedium(sink);

    ASSERT_EQ(h.delivered.size(), 8u);
    EXPECT_EQ(h.delivered[0].bytes,
              expectedVideoInner(100, 0, KX_DATA_H265, KX_FRAME_VPS, true, kVps));
    EXPECT_EQ(h.delivered[1].bytes,
              expectedVideoInner(100, 0, KX_DATA_H265, KX_FRAME_SPS, true, kSps));
    EXPECT_EQ(h.delivered[2].bytes,
              expectedVideoInner(100, 0, KX_DATA_H265, KX_FRAME_PPS, true, kPps));
    EXPECT_EQ(h.delivered[3].bytes,
              expectedVideoInner(100, 0, KX_DATA_H265, KX_FRAME_NOSTART, true, trail));
    EXPECT_EQ(h.delivered[3].dataType, uint32_t(KX_DATA_H265));
    EXPECT_EQ(frameTypeOf(4), KX_FRAME_VPS);  // in-band parameter sets keep their type
    EXPECT_EQ(frameTypeOf(5), KX_FRAME_NOSTART);
    EXPECT_EQ(h.delivered[6].bytes,
              expectedVideoInner(100, 40000, KX_DATA_H265, KX_FRAME_IDR, true, cra));
    EXPECT_EQ(h.delivered[7].bytes,
              expectedVideoInner(100, 80000, KX_DATA_H265, KX_FRAME_OTHER, false, startCoded));
    EXPECT_EQ(h.client().GetCurrentTime(), 80);  // the position follows H.265 frames

    // The recording starts at the IRAP picture, which carries the wall-clock seconds, with
    // the latest parameter sets in front: the stream's VPS, the description's SPS and PPS.
    std::ifstream in(file("rec.qf"), std::ios::binary);
    const Bytes rec((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Bytes> inners;
    std::vector<uint32_t> walls;
    for (size_t at = 0; at + KX_PKT_OVERHEAD <= rec.size();) {
        const uint32_t length = getLe32(rec.data() + at + KX_PKT_OFF_LENGTH);
        ASSERT_LE(at + KX_PKT_OVERHEAD + length, rec.size());
        const auto begin = rec.begin() + std::ptrdiff_t(at + KX_PKT_OFF_INNER);
        inners.emplace_back(begin, begin + length);
        walls.push_back(getLe32(rec.data() + at + KX_PKT_OFF_WALLCLOCK));
        at += KX_PKT_OVERHEAD + length;
    }
    ASSERT_EQ(inners.size(), 5u);
    EXPECT_EQ(inners[0],
              expectedVideoInner(100, 40000, KX_DATA_H265, KX_FRAME_VPS, true, hevc(32, 24)));
    EXPECT_EQ(inners[1], expectedVideoInner(100, 40000, KX_DATA_H265, KX_FRAME_SPS, true, kSps));
    EXPECT_EQ(inners[2], expectedVideoInner(100, 40000, KX_DATA_H265, KX_FRAME_PPS, true, kPps));
    EXPECT_EQ(inners[3], h.delivered[6].bytes);
    EXPECT_EQ(inners[4], h.delivered[7].bytes);
    EXPECT_EQ(walls[0], 0u);
    EXPECT_GE(walls[3], uint32_t(before));
    EXPECT_LE(walls[3], uint32_t(std::time(nullptr)));

    EXPECT_NE(logText().find("[H265DataSink::afterGettingFrame1]has input vps sps pps, vpsSize:24, "
                             "spsSize:40, ppsSize:7.\n"),
              std::string::npos)
        << logText();
}

// Damaged parameter sets in the description: (vps, sps, pps) texts. None is handed on, the
// frames are, and an error line says why.
struct BadSprop {
    const char* name;
    std::string vps, sps, pps;
};

class H265BadSpropTest : public H265DataSinkTest, public ::testing::WithParamInterface<BadSprop> {};

TEST_P(H265BadSpropTest, DropsTheParameterSetsWithAnErrorLine) {
    const BadSprop& c = GetParam();
    H265DataSink* sink =
        H265DataSink::createNew(h.env(), &h.client(), c.vps.c_str(), c.sps.c_str(), c.pps.c_str());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    const Bytes idr = hevc(19, 100);
    h.play(sink, {makeFrame(idr, 7, 0), makeFrame(hevc(1, 50), 7, 40000)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 2u);
    EXPECT_EQ(frameTypeOf(0), KX_FRAME_IDR);
    const std::string text = logText();
    EXPECT_NE(text.find("][error][H265DataSink::afterGettingFrame1]bad sprop-vps/sps/pps, "
                        "parameter sets dropped.\n"),
              std::string::npos)
        << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, H265BadSpropTest,
    ::testing::Values(BadSprop{"NotBase64", base64(kVps), "@@@@", base64(kPps)},
                      BadSprop{"WrongNalType", base64(kSps), base64(kSps), base64(kPps)},
                      BadSprop{"SecondRecordBad", base64(kVps), base64(kSps) + ",AAAA",
                               base64(kPps)},
                      BadSprop{"ForbiddenBitSet", base64(kVps), base64(kSps),
                               base64(Bytes{0xC4, 1, 0xC1, 0x72})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(H265DataSinkTest, FramesThatAreNoNalUnitAreDroppedAndLogged) {
    H265DataSink* sink = H265DataSink::createNew(h.env(), &h.client(), "", "", "");
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    Bytes forbidden = hevc(1, 40);
    forbidden[0] |= 0x80;
    h.play(sink, {makeFrame(Bytes{0x02}, 1, 0), makeFrame(Bytes{0, 0, 1, 0x02, 1}, 1, 0),
                  makeFrame(forbidden, 1, 0), makeFrame(hevc(19, 60), 1, 40000)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 1u);  // only the good one, no parameter sets to send
    EXPECT_EQ(frameTypeOf(0), KX_FRAME_IDR);
    const std::string text = logText();
    size_t lines = 0;
    for (size_t at = text.find("dropped a frame that is no NAL unit"); at != std::string::npos;
         at = text.find("dropped a frame that is no NAL unit", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 3u) << text;
    EXPECT_NE(text.find("why has not vps sps pps, vps:0, sps:0, pps:0."), std::string::npos);
}

}  // namespace
}  // namespace kx::sdk::testing
