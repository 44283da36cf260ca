// The RTP sources fed with real RTP from GStreamer's payloaders: what they hand on must be
// exactly what the encoder produced, also with packets reordered, lost or malformed.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "CollectingSink.h"
#include "H264RTPSource.h"
#include "H264Stream.h"
#include "LoopHarness.h"
#include "MPEG4GenericRTPSource.h"
#include "MPEG4VideoRTPSource.h"
#include "PayloaderPipeline.h"
#include "RtpHeader.h"
#include "SimpleRTPSource.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

// A source with a sink attached; packets are handed in directly.
template <class Source>
struct Feed {
    LoopHarness h;
    Source* source = nullptr;
    CollectingSink* sink = nullptr;

    template <class... Args>
    explicit Feed(unsigned bufferSize, Args&&... args) {
        source = Source::createNew(h.env, std::forward<Args>(args)...);
        sink = CollectingSink::createNew(h.env, bufferSize);
        sink->startPlaying(*source, nullptr, nullptr);
    }
    ~Feed() {
        Medium::close(sink);
        Medium::close(source);
    }
    void push(const std::vector<Bytes>& packets) {
        for (const Bytes& p : packets) source->handlePacket(p.data(), p.size());
    }
    std::vector<Bytes> frames() const {
        std::vector<Bytes> out;
        for (auto& f : sink->frames) out.push_back(f.bytes);
        return out;
    }
};

// Equal sequences, reported by the first difference instead of a dump of everything.
::testing::AssertionResult sameUnits(const std::vector<Bytes>& got,
                                     const std::vector<Bytes>& want) {
    for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        if (got[i] != want[i]) {
            return ::testing::AssertionFailure() << "unit " << i << " differs: " << got[i].size()
                                                 << " bytes vs " << want[i].size();
        }
    }
    if (got.size() != want.size()) {
        return ::testing::AssertionFailure() << got.size() << " units instead of " << want.size();
    }
    return ::testing::AssertionSuccess();
}

std::vector<Bytes> dropType(const std::vector<Bytes>& nals, int type) {
    std::vector<Bytes> out;
    for (const Bytes& n : nals) {
        if (Brelso::Testing::nalType(n) != type) out.push_back(n);
    }
    return out;
}

// Shuffles packets within consecutive windows (a network that reorders, never loses); the
// first packet stays first, as it fixes where the sequence begins.
std::vector<Bytes> shuffledInWindows(std::vector<Bytes> packets, size_t window, unsigned seed) {
    std::mt19937 rng(seed);
    for (size_t i = 1; i < packets.size(); i += window) {
        auto end =
            packets.begin() + static_cast<std::ptrdiff_t>(std::min(packets.size(), i + window));
        std::shuffle(packets.begin() + static_cast<std::ptrdiff_t>(i), end, rng);
    }
    return packets;
}

struct H264Data {
    std::vector<Bytes> nals;     // from the encoder, without AUD
    std::vector<Bytes> packets;  // from rtph264pay
};

const H264Data& h264Data() {
    static H264Data data = [] {
        H264Data d;
        PipelineResult r = runPipeline(
            "videotestsrc num-buffers=40 pattern=ball ! "
            "video/x-raw,width=320,height=240,framerate=25/1 "
            "! x264enc key-int-max=10 speed-preset=ultrafast tune=zerolatency "
            "! video/x-h264,stream-format=byte-stream,alignment=au ! tee name=t "
            "t. ! queue ! appsink name=ref "
            "t. ! queue ! rtph264pay mtu=400 pt=96 ! appsink name=rtp",
            {"ref", "rtp"});
        EXPECT_TRUE(r.ok) << r.error;
        for (const Bytes& au : r.buffers["ref"]) {
            for (Bytes& n : Brelso::Testing::splitAnnexB(au)) d.nals.push_back(std::move(n));
        }
        d.nals = dropType(d.nals, 9);
        d.packets = r.buffers["rtp"];
        return d;
    }();
    return data;
}

TEST(H264RTPSourceTest, HandsOnEveryNalUnitOfTheEncoder) {
    const H264Data& d = h264Data();
    ASSERT_GT(d.nals.size(), 40u);
    size_t fuA = 0, stapA = 0;
    for (const Bytes& p : d.packets) {
        RtpHeader h;
        ASSERT_TRUE(h.parse(p.data(), p.size()));
        fuA += (h.payload[0] & 0x1F) == 28;
        stapA += (h.payload[0] & 0x1F) == 24;
    }
    EXPECT_GT(fuA, 0u);  // the stream exercises fragmentation
    Feed<H264RTPSource> feed(1 << 20, 96);
    feed.push(d.packets);
    EXPECT_TRUE(sameUnits(dropType(feed.frames(), 9), d.nals));
}

TEST(H264RTPSourceTest, ReordersShuffledPackets) {
    const H264Data& d = h264Data();
    Feed<H264RTPSource> feed(1 << 20, 96);
    feed.source->setPacketReorderingThresholdTime(60000000);
    feed.push(shuffledInWindows(d.packets, 6, 7));
    EXPECT_TRUE(sameUnits(dropType(feed.frames(), 9), d.nals));
}

TEST(H264RTPSourceTest, DropsOnlyTheNalUnitWhoseFragmentWasLost) {
    const H264Data& d = h264Data();
    // Lose the first middle fragment of an FU-A NAL unit.
    std::vector<Bytes> packets = d.packets;
    size_t lost = packets.size();
    for (size_t i = 0; i < packets.size(); ++i) {
        RtpHeader h;
        h.parse(packets[i].data(), packets[i].size());
        if ((h.payload[0] & 0x1F) == 28 && (h.payload[1] & 0xC0) == 0) {
            lost = i;
            break;
        }
    }
    ASSERT_LT(lost, packets.size());
    // The NAL unit it belongs to: its start fragment is the nearest earlier one.
    size_t startIndex = lost;
    while (true) {
        RtpHeader h;
        h.parse(packets[startIndex].data(), packets[startIndex].size());
        if ((h.payload[0] & 0x1F) == 28 && (h.payload[1] & 0x80)) break;
        --startIndex;
    }
    // Count the NAL units carried before it to find it among the encoder's.
    Feed<H264RTPSource> before(1 << 20, 96);
    before.push(std::vector<Bytes>(packets.begin(),
                                   packets.begin() + static_cast<std::ptrdiff_t>(startIndex)));
    const size_t damagedIndex = dropType(before.frames(), 9).size();
    std::vector<Bytes> expected = d.nals;
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(damagedIndex));
    packets.erase(packets.begin() + static_cast<std::ptrdiff_t>(lost));

    Feed<H264RTPSource> feed(1 << 20, 96);
    feed.source->setPacketReorderingThresholdTime(0);
    feed.push(packets);
    EXPECT_TRUE(sameUnits(dropType(feed.frames(), 9), expected));
}

TEST(H264RTPSourceTest, CutsFramesLongerThanTheReadersBuffer) {
    const H264Data& d = h264Data();
    Feed<H264RTPSource> feed(100, 96);
    feed.push(d.packets);
    std::vector<Bytes> nals;
    for (const Bytes& n : d.nals) nals.push_back(n);
    std::vector<CollectingSink::Frame> frames;
    for (auto& f : feed.sink->frames) {
        if (!f.bytes.empty() && (f.bytes[0] & 0x1F) == 9) continue;
        frames.push_back(f);
    }
    ASSERT_EQ(frames.size(), nals.size());
    bool sawCut = false;
    for (size_t i = 0; i < nals.size(); ++i) {
        const size_t kept = std::min<size_t>(100, nals[i].size());
        EXPECT_EQ(frames[i].bytes,
                  Bytes(nals[i].begin(), nals[i].begin() + static_cast<std::ptrdiff_t>(kept)));
        EXPECT_EQ(frames[i].truncated, nals[i].size() - kept);
        sawCut |= frames[i].truncated > 0;
    }
    EXPECT_TRUE(sawCut);
}

TEST(MPEG4VideoRTPSourceTest, HandsOnEveryFrameOfTheEncoder) {
    if (!hasElements({"avenc_mpeg4", "rtpmp4vpay"})) GTEST_SKIP() << "no MPEG-4 encoder";
    PipelineResult r = runPipeline(
        "videotestsrc num-buffers=30 ! video/x-raw,width=320,height=240,framerate=25/1 "
        "! avenc_mpeg4 bitrate=800000 ! tee name=t t. ! queue ! appsink name=ref "
        "t. ! queue ! rtpmp4vpay mtu=300 pt=96 config-interval=-1 ! appsink name=rtp",
        {"ref", "rtp"});
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<Bytes>& ref = r.buffers["ref"];
    Feed<MPEG4VideoRTPSource> feed(1 << 20, 96);
    feed.push(r.buffers["rtp"]);
    const std::vector<Bytes> got = feed.frames();
    ASSERT_EQ(got.size(), ref.size());
    for (size_t i = 0; i < got.size(); ++i) {
        // The payloader may put the configuration in front of a frame; the frame itself
        // must be there unchanged at the end.
        ASSERT_GE(got[i].size(), ref[i].size()) << i;
        EXPECT_TRUE(std::equal(ref[i].begin(), ref[i].end(),
                               got[i].end() - static_cast<std::ptrdiff_t>(ref[i].size())))
            << i;
    }
}

AuHeaderLayout layoutFromCaps(const std::string& caps) {
    AuHeaderLayout l;
    auto num = [&](const char* f) {
        const std::string v = capsField(caps, f);
        return v.empty() ? 0u : static_cast<unsigned>(std::stoul(v));
    };
    l.sizeLength = num("sizelength");
    l.indexLength = num("indexlength");
    l.indexDeltaLength = num("indexdeltalength");
    return l;
}

void checkAac(unsigned mtu) {
    const char* encoder = hasElements({"avenc_aac"}) ? "avenc_aac" : "voaacenc";
    if (!hasElements({encoder, "rtpmp4gpay", "aacparse"})) GTEST_SKIP() << "no AAC encoder";
    PipelineResult r = runPipeline(
        std::string(
            "audiotestsrc num-buffers=60 wave=white-noise ! audio/x-raw,rate=48000,channels=2 ! ") +
            encoder +
            " bitrate=256000 ! aacparse ! tee name=t t. ! queue ! appsink name=ref "
            "t. ! queue ! rtpmp4gpay mtu=" +
            std::to_string(mtu) + " pt=97 ! appsink name=rtp",
        {"ref", "rtp"});
    ASSERT_TRUE(r.ok) << r.error;
    const AuHeaderLayout layout = layoutFromCaps(r.caps["rtp"]);
    ASSERT_EQ(layout.sizeLength, 13u) << r.caps["rtp"];
    Feed<MPEG4GenericRTPSource> feed(1 << 20, 97, 48000, layout);
    feed.push(r.buffers["rtp"]);
    EXPECT_TRUE(sameUnits(feed.frames(), r.buffers["ref"]));
}

TEST(MPEG4GenericRTPSourceTest, HandsOnEveryAccessUnit) {
    checkAac(1400);
}

TEST(MPEG4GenericRTPSourceTest, JoinsFragmentedAccessUnits) {
    checkAac(200);
}

TEST(SimpleRTPSourceTest, HandsOnEveryPayloadUnchanged) {
    PipelineResult r = runPipeline(
        "audiotestsrc num-buffers=20 ! audio/x-raw,rate=8000,channels=1 ! mulawenc "
        "! tee name=t t. ! queue ! appsink name=ref t. ! queue ! rtppcmupay pt=0 ! appsink "
        "name=rtp",
        {"ref", "rtp"});
    ASSERT_TRUE(r.ok) << r.error;
    Feed<SimpleRTPSource> feed(1 << 20, 0, 8000);
    feed.push(r.buffers["rtp"]);
    const std::vector<Bytes> got = feed.frames();
    ASSERT_EQ(got.size(), r.buffers["rtp"].size());
    Bytes joinedGot, joinedRef;
    for (size_t i = 0; i < got.size(); ++i) {
        RtpHeader h;
        ASSERT_TRUE(h.parse(r.buffers["rtp"][i].data(), r.buffers["rtp"][i].size()));
        EXPECT_EQ(got[i], Bytes(h.payload, h.payload + h.payloadSize));
        joinedGot.insert(joinedGot.end(), got[i].begin(), got[i].end());
    }
    for (const Bytes& b : r.buffers["ref"]) joinedRef.insert(joinedRef.end(), b.begin(), b.end());
    EXPECT_EQ(joinedGot, joinedRef);
}

TEST(SimpleRTPSourceTest, IgnoresOtherPayloadTypes) {
    Feed<SimpleRTPSource> feed(1 << 20, 0, 8000);
    Bytes packet = {0x80, 8, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0xAA, 0xBB};
    feed.push({packet});
    EXPECT_TRUE(feed.frames().empty());
    packet[1] = 0;
    feed.push({packet});
    EXPECT_EQ(feed.frames(), std::vector<Bytes>({Bytes{0xAA, 0xBB}}));
}

// Damaged input never crashes a source and never produces more than it carries.
template <class Source, class... Args>
void survivesGarbage(Args... args) {
    const H264Data& d = h264Data();
    std::mt19937 rng(42);
    Feed<Source> feed(1 << 16, args...);
    feed.source->setPacketReorderingThresholdTime(0);
    for (int round = 0; round < 3; ++round) {
        for (Bytes p : d.packets) {
            switch (rng() % 4) {
                case 0:  // cut short
                    p.resize(rng() % (p.size() + 1));
                    break;
                case 1:  // flipped bytes after the fixed header
                    for (int k = 0; k < 4 && p.size() > 12; ++k)
                        p[12 + rng() % (p.size() - 12)] = static_cast<uint8_t>(rng());
                    break;
                case 2:  // length fields and headers of the payload garbled
                    if (p.size() > 16) {
                        p[12] = static_cast<uint8_t>(rng());
                        p[13] = static_cast<uint8_t>(rng());
                        p[14] = static_cast<uint8_t>(rng());
                    }
                    break;
                default:
                    break;
            }
            feed.source->handlePacket(p.data(), p.size());
        }
    }
    size_t total = 0;
    for (auto& f : feed.sink->frames) total += f.bytes.size() + f.truncated;
    size_t input = 0;
    for (const Bytes& p : d.packets) input += p.size();
    EXPECT_LE(total, 3 * input);
}

TEST(RTPSourceRobustnessTest, H264SurvivesDamagedPackets) {
    survivesGarbage<H264RTPSource>(96);
}
TEST(RTPSourceRobustnessTest, Mpeg4VideoSurvivesDamagedPackets) {
    survivesGarbage<MPEG4VideoRTPSource>(96);
}
TEST(RTPSourceRobustnessTest, AacSurvivesDamagedPackets) {
    AuHeaderLayout l;
    l.sizeLength = 13;
    l.indexLength = 3;
    l.indexDeltaLength = 3;
    l.auxiliaryDataSizeLength = 7;
    l.ctsDeltaLength = 5;
    survivesGarbage<MPEG4GenericRTPSource>(96, 48000u, l);
}

}  // namespace
