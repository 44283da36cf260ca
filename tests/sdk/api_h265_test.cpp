// H.265 through the public API against a real server playing an H.265 file: the parameter
// sets of the session description first, then every NAL unit of the file byte for byte with
// its frame type, over UDP and TCP; what arrived decodes with the ffmpeg program.
#include <fstream>

#include "MediaLaunch.h"
#include "RecordingDecode.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::TestRtspServer;

// A NAL unit ends in a non-zero byte; zero bytes after it belong to the byte stream, and the
// file's demuxer keeps one in front of a four-byte start code.
Bytes withoutTrailingZeros(Bytes nal) {
    while (!nal.empty() && nal.back() == 0) nal.pop_back();
    return nal;
}

int hevcType(const Bytes& nal) {
    return nal.size() >= 2 ? (nal[0] >> 1) & 0x3F : -1;
}

// The frame type an H.265 NAL unit that came without a start code must get.
uint16_t expectedFrameType(int type) {
    if (type >= 16 && type <= 21) return KX_FRAME_IDR;
    if (type == 32) return KX_FRAME_VPS;
    if (type == 33) return KX_FRAME_SPS;
    if (type == 34) return KX_FRAME_PPS;
    return KX_FRAME_NOSTART;
}

class H265FileStream : public ApiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(H265FileStream, NalUnitsArriveByteForByteAndDecode) {
    if (!Tools::hasElement("rtph265pay") || !Tools::hasElement("h265parse")) {
        GTEST_SKIP() << "no H.265 payloader";
    }
    Testing::TempDir media;
    ASSERT_TRUE(Testing::generateH265Stream(media.file("in.h265"), 90));
    ASSERT_TRUE(Testing::remuxH265ToMp4(media.file("in.h265"), media.file("in.mp4")));
    const std::vector<Bytes> sent = Testing::splitAnnexB(Testing::readFile(media.file("in.h265")));
    std::vector<Bytes> sentSlices;
    for (const Bytes& nal : sent) {
        if (hevcType(nal) >= 0 && hevcType(nal) <= 31) {
            sentSlices.push_back(withoutTrailingZeros(nal));
        }
    }
    ASSERT_EQ(sentSlices.size(), 90u);
    TestRtspServer server;
    server.addH265FileMount("/file265", media.file("in.mp4"));
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/file265", GetParam());
    ASSERT_GE(handle, 1000000);
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H265, 60, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    const auto frames = collector.frames();
    std::vector<Bytes> nals;
    for (const auto& delivered : frames) {
        ASSERT_EQ(delivered.dataType, uint32_t(KX_DATA_H265));
        const Testing::InnerFrame frame = inner(delivered);
        ASSERT_GT(frame.payload.size(), 6u);
        EXPECT_EQ(Bytes(frame.payload.begin(), frame.payload.begin() + 4), (Bytes{0, 0, 0, 1}));
        nals.push_back(nalOf(frame));
        EXPECT_EQ(frame.frameType, expectedFrameType(hevcType(nals.back())));
    }
    // The session description's parameter sets come first, VPS, SPS, PPS: those of the file.
    ASSERT_GE(nals.size(), 3u);
    EXPECT_EQ(hevcType(nals[0]), 32);
    EXPECT_EQ(hevcType(nals[1]), 33);
    EXPECT_EQ(hevcType(nals[2]), 34);
    for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const Bytes& nal) {
            return withoutTrailingZeros(nal) == withoutTrailingZeros(nals[size_t(k)]);
        })) << k;
    }
    // Then the slices of the file in order, byte for byte (the key frames fragmented).
    std::vector<Bytes> slices;
    for (const Bytes& nal : nals) {
        if (hevcType(nal) <= 31) slices.push_back(withoutTrailingZeros(nal));
    }
    ASSERT_GE(slices.size(), 40u);
    // Over UDP the loopback may lose a packet under load: then the slices delivered are still
    // those of the file in its order, with the damaged one left out.
    const bool tcp = GetParam();
    auto at = std::find(sentSlices.begin(), sentSlices.end(), slices[0]);
    ASSERT_NE(at, sentSlices.end()) << "first delivered slice is not in the file";
    size_t skipped = 0;
    for (size_t i = 1; i < slices.size(); ++i) {
        const auto next = std::find(at + 1, sentSlices.end(), slices[i]);
        if (next == sentSlices.end() && at + 1 == sentSlices.end()) break;  // the file looped
        ASSERT_NE(next, sentSlices.end()) << "slice " << i << " is not the file's next one";
        skipped += size_t(next - at) - 1;
        at = next;
    }
    if (tcp) {
        EXPECT_EQ(skipped, 0u);
    }
    EXPECT_LE(skipped, 2u);
    size_t largest = 0;
    for (const Bytes& slice : slices) largest = std::max(largest, slice.size());
    EXPECT_GT(largest, 600u);  // some came in fragmentation units

    // The parameter sets and everything from the first key frame on, as an elementary
    // stream, decode to one picture per slice.
    const std::string out = media.file("out.h265");
    size_t pictures = 0;
    {
        std::ofstream file(out, std::ios::binary);
        bool started = false;
        for (size_t i = 0; i < nals.size(); ++i) {
            const int type = hevcType(nals[i]);
            started = started || (type >= 16 && type <= 21);
            if (i >= 3 && !started) continue;
            pictures += type <= 31 ? 1 : 0;
            file.write("\0\0\0\1", 4);
            file.write(reinterpret_cast<const char*>(nals[i].data()),
                       std::streamsize(nals[i].size()));
        }
    }
    std::string probe;
    ASSERT_TRUE(Testing::runProgram(
        {"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,nb_read_frames", "-of", "csv=p=0", out},
        &probe));
    if (skipped == 0) {
        EXPECT_EQ(probe, "hevc," + std::to_string(pictures) + "\n");
    } else {
        EXPECT_EQ(probe.rfind("hevc,", 0), 0u) << probe;
    }
    EXPECT_NE(logText().find("[CLiveClient::ContinueAfterSETUP] RealHandle:0, create h265 video "
                             "data sink.\n"),
              std::string::npos)
        << logText();
}

INSTANTIATE_TEST_SUITE_P(Transport, H265FileStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

// The live H.265 mount sends its parameter sets only in the session description: a recording
// still begins with VPS, SPS, PPS and the key frame, and decodes from its first picture.
TEST_F(ApiTest, H265RecordingDecodesFromItsFirstFrame) {
    if (!Tools::hasElement("x265enc") || !Tools::hasElement("rtph265pay")) {
        GTEST_SKIP() << "no H.265 encoder";
    }
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), TestRtspServer::kH265Pcmu, true);
    ASSERT_GE(handle, 1000000);
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H265, 5, 20s));
    const std::string path = m_dir.file("h265.qf");
    ASSERT_EQ(KX_NET_SaveRealData(handle, path.c_str()), 1);
    const size_t from = collector.count(KX_DATA_H265);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H265, from + 45, 30s));
    ASSERT_EQ(KX_NET_StopSaveRealData(handle), 1);
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    std::vector<Testing::PackagedFrame> recorded;
    std::string error;
    ASSERT_TRUE(Testing::parsePackagedFrames(Testing::readFile(path), recorded, &error)) << error;
    ASSERT_GT(recorded.size(), 4u);
    EXPECT_EQ(recorded[0].inner.frameType, KX_FRAME_VPS);
    EXPECT_EQ(recorded[1].inner.frameType, KX_FRAME_SPS);
    EXPECT_EQ(recorded[2].inner.frameType, KX_FRAME_PPS);
    EXPECT_EQ(recorded[3].inner.frameType, KX_FRAME_IDR);
    const auto decode = Testing::decodeRecordedVideo(recorded, KX_DATA_H265, m_dir.file("o.h265"));
    ASSERT_TRUE(decode.ran) << decode.output;
    EXPECT_GT(decode.pictures, 10u);
    EXPECT_EQ(decode.firstPicture, "I") << decode.output;
    EXPECT_EQ(decode.errors, 0u) << decode.output;
    EXPECT_EQ(decode.decoded, decode.pictures) << decode.output;
}

// A camera that sends with decoding order numbers (sprop-max-don-diff 1): every second slice
// goes out before the one it follows, in single NAL unit packets with DONL and fragmentation
// units with DONL in the first fragment; the parameter sets only in the description. The
// slices arrive in decoding order; the numbers wrap past 65535 on the way.
TEST_F(ApiTest, H265DecodingOrderNumbersRestoreTheOrder) {
    Testing::TempDir media;
    ASSERT_TRUE(Testing::generateH265Stream(media.file("don.h265"), 30, 15, 15, 160, 120));
    std::vector<Bytes> slices, vps, sps, pps;
    for (const Bytes& nal : Testing::splitAnnexB(Testing::readFile(media.file("don.h265")))) {
        const int type = hevcType(nal);
        if (type <= 31) slices.push_back(withoutTrailingZeros(nal));
        if (type == 32 && vps.empty()) vps.push_back(nal);
        if (type == 33 && sps.empty()) sps.push_back(nal);
        if (type == 34 && pps.empty()) pps.push_back(nal);
    }
    ASSERT_EQ(slices.size(), 30u);
    ASSERT_FALSE(vps.empty() || sps.empty() || pps.empty());
    // The packets of one slice with its decoding order number.
    const auto packetsOf = [](const Bytes& nal, uint16_t don) {
        std::vector<Testing::RtpPayload> out;
        constexpr size_t kChunk = 700;
        if (nal.size() <= kChunk) {
            Bytes single = {nal[0], nal[1], uint8_t(don >> 8), uint8_t(don)};
            single.insert(single.end(), nal.begin() + 2, nal.end());
            out.push_back({single, false});
            return out;
        }
        for (size_t off = 2; off < nal.size(); off += kChunk) {
            const bool first = off == 2, last = off + kChunk >= nal.size();
            Bytes fu = {uint8_t((nal[0] & 0x81) | (49 << 1)), nal[1],
                        uint8_t((first ? 0x80 : 0) | (last ? 0x40 : 0) | hevcType(nal))};
            if (first) {
                fu.push_back(uint8_t(don >> 8));
                fu.push_back(uint8_t(don));
            }
            fu.insert(fu.end(), nal.begin() + std::ptrdiff_t(off),
                      nal.begin() + std::ptrdiff_t(std::min(nal.size(), off + kChunk)));
            out.push_back({fu, false});
        }
        return out;
    };
    Testing::RtpPlan plan;
    plan.loop = false;
    plan.intervalMs = 66;
    plan.timestampStep = 6000;
    for (size_t i = 0; i < slices.size(); i += 2) {
        std::vector<Testing::RtpPayload> tick;
        for (size_t k : {i + 1, i}) {
            for (auto& p : packetsOf(slices[k], uint16_t(65520 + k))) tick.push_back(p);
        }
        tick.back().marker = true;
        plan.ticks.push_back(tick);
    }
    Testing::ScriptedRtspServer server;
    const std::string fmtp = "sprop-max-don-diff=1;sprop-vps=" + Testing::base64(vps[0]) +
                             ";sprop-sps=" + Testing::base64(sps[0]) +
                             ";sprop-pps=" + Testing::base64(pps[0]);
    server.setSdp(Testing::sdpSession({Testing::sdpMedia(0, "video", 96, "H265/90000", fmtp)}));
    server.setTrackPlan(0, plan);
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    // The last two slices wait for numbers beyond them, which never come.
    const size_t expected = slices.size() - 2;
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H265, 3 + expected, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    std::vector<Bytes> got;
    for (const auto& delivered : collector.frames()) got.push_back(nalOf(inner(delivered)));
    ASSERT_GE(got.size(), 3 + expected);
    EXPECT_EQ(got[0], vps[0]);
    EXPECT_EQ(got[1], sps[0]);
    EXPECT_EQ(got[2], pps[0]);
    for (size_t i = 0; i < expected; ++i) {
        EXPECT_EQ(withoutTrailingZeros(got[3 + i]), slices[i]) << "slice " << i;
    }
}

}  // namespace
}  // namespace Brelso::ApiTests
