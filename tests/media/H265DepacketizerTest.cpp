// The H.265 RTP source fed with real RTP from GStreamer's rtph265pay (single NAL unit
// packets, aggregation packets and fragmentation units), and with packets carrying decoding
// order numbers built here, as a sender that transmits out of decoding order would send them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "CollectingSink.h"
#include "H264Stream.h"
#include "H265RTPSource.h"
#include "LoopHarness.h"
#include "PayloaderPipeline.h"
#include "RtpHeader.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

int h265Type(const Bytes& b, size_t at = 0) {
    return b.size() > at ? (b[at] >> 1) & 0x3F : -1;
}

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

struct Feed {
    LoopHarness h;
    H265RTPSource* source = nullptr;
    CollectingSink* sink = nullptr;
    explicit Feed(unsigned maxDonDiff = 0) {
        source = H265RTPSource::createNew(h.env, 96, 90000, maxDonDiff);
        source->setPacketReorderingThresholdTime(0);
        sink = CollectingSink::createNew(h.env, 1 << 20);
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

struct H265Data {
    std::vector<Bytes> nals;     // from the encoder
    std::vector<Bytes> packets;  // from rtph265pay
};

// mtu 400 makes the key frames fragment; the aggregate mode bundles the parameter sets.
const H265Data& h265Data() {
    static H265Data data = [] {
        H265Data d;
        PipelineResult r = runPipeline(
            "videotestsrc num-buffers=30 pattern=ball ! "
            "video/x-raw,width=320,height=240,framerate=25/1 "
            "! x265enc key-int-max=10 speed-preset=ultrafast tune=zerolatency "
            "! video/x-h265,stream-format=byte-stream,alignment=au ! tee name=t "
            "t. ! queue ! appsink name=ref "
            "t. ! queue ! rtph265pay mtu=400 pt=96 aggregate-mode=zero-latency ! appsink name=rtp",
            {"ref", "rtp"});
        EXPECT_TRUE(r.ok) << r.error;
        for (const Bytes& au : r.buffers["ref"]) {
            for (Bytes& n : Brelso::Testing::splitAnnexB(au)) d.nals.push_back(std::move(n));
        }
        d.packets = r.buffers["rtp"];
        return d;
    }();
    return data;
}

Bytes rtp(uint16_t seq, uint32_t ts, const Bytes& payload) {
    Bytes p = {0x80,
               96,
               uint8_t(seq >> 8),
               uint8_t(seq),
               uint8_t(ts >> 24),
               uint8_t(ts >> 16),
               uint8_t(ts >> 8),
               uint8_t(ts),
               0,
               0,
               0,
               7};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

TEST(H265RTPSourceTest, HandsOnEveryNalUnitOfThePayloader) {
    if (!hasElements({"x265enc", "rtph265pay"})) GTEST_SKIP() << "no H.265 encoder";
    const H265Data& d = h265Data();
    ASSERT_GT(d.nals.size(), 30u);
    std::map<int, size_t> kinds;
    for (const Bytes& p : d.packets) {
        RtpHeader h;
        ASSERT_TRUE(h.parse(p.data(), p.size()));
        ++kinds[(h.payload[0] >> 1) & 0x3F];
    }
    EXPECT_GT(kinds[48], 0u);  // aggregation packets
    EXPECT_GT(kinds[49], 0u);  // fragmentation units
    Feed feed;
    feed.push(d.packets);
    EXPECT_TRUE(sameUnits(feed.frames(), d.nals));
    EXPECT_EQ(feed.source->damagedCount(), 0u);
}

// Damaged packets: (what is done to the stream, NAL units lost). Each drops exactly the NAL
// units it damages and counts the damage; everything else goes on.
struct Damage {
    const char* name;
    int packetKind;  // 48 aggregation, 49 fragmentation unit
    int fuPosition;  // for 49: 0 start, 1 middle
    bool cutLength;  // for 48: a NAL unit length that runs past the packet
};

class H265DamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(H265DamageTest, DropsOnlyTheDamagedNalUnits) {
    if (!hasElements({"x265enc", "rtph265pay"})) GTEST_SKIP() << "no H.265 encoder";
    const Damage& dmg = GetParam();
    const H265Data& d = h265Data();
    std::vector<Bytes> packets = d.packets;
    size_t victim = packets.size();
    for (size_t i = 0; i < packets.size() && victim == packets.size(); ++i) {
        RtpHeader h;
        h.parse(packets[i].data(), packets[i].size());
        const int kind = (h.payload[0] >> 1) & 0x3F;
        if (kind != dmg.packetKind) continue;
        if (kind == 49 && ((h.payload[2] & 0x80) != 0) != (dmg.fuPosition == 0)) continue;
        if (kind == 49 && dmg.fuPosition == 1 && (h.payload[2] & 0x40) != 0) continue;
        victim = i;
    }
    ASSERT_LT(victim, packets.size());
    // What a clean feed hands on from the packets before, at and after the victim.
    Feed before;
    before.push(std::vector<Bytes>(packets.begin(), packets.begin() + std::ptrdiff_t(victim)));
    const size_t firstLost = before.frames().size();
    if (dmg.packetKind == 48) {
        // The aggregation packet's first length is made to run past the packet.
        Bytes& p = packets[victim];
        p[12 + 2] = 0xFF;
        p[12 + 3] = 0xFF;
    } else {
        // The fragment is lost. A lost start is made to look like a start never sent: the
        // sequence numbers close up, so only the fragments themselves tell.
        packets.erase(packets.begin() + std::ptrdiff_t(victim));
        for (size_t i = victim; i < packets.size() && dmg.fuPosition == 0; ++i) {
            const uint16_t seq = uint16_t(((packets[i][2] << 8) | packets[i][3]) - 1);
            packets[i][2] = uint8_t(seq >> 8);
            packets[i][3] = uint8_t(seq);
        }
    }
    Feed feed;
    feed.push(packets);
    const std::vector<Bytes> got = feed.frames();
    ASSERT_LT(got.size(), d.nals.size());
    const size_t lost = d.nals.size() - got.size();
    EXPECT_TRUE(
        sameUnits(std::vector<Bytes>(got.begin(), got.begin() + std::ptrdiff_t(firstLost)),
                  std::vector<Bytes>(d.nals.begin(), d.nals.begin() + std::ptrdiff_t(firstLost))));
    EXPECT_TRUE(sameUnits(
        std::vector<Bytes>(got.begin() + std::ptrdiff_t(firstLost), got.end()),
        std::vector<Bytes>(d.nals.begin() + std::ptrdiff_t(firstLost + lost), d.nals.end())));
    EXPECT_LE(lost, dmg.packetKind == 48 ? 4u : 1u);
    EXPECT_GE(feed.source->damagedCount(), 1u) << dmg.name;
    EXPECT_STRNE(feed.source->lastDamage(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, H265DamageTest,
                         ::testing::Values(Damage{"ApLengthPastEnd", 48, 0, true},
                                           Damage{"FuStartLost", 49, 0, false},
                                           Damage{"FuMiddleLost", 49, 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A sender with sprop-max-don-diff 2 that sends every pair of NAL units swapped, using single
// NAL unit packets (DONL), aggregation packets (DONL then DOND) and fragmentation units
// (DONL in the first fragment only); the decoding order numbers wrap around 65535.
TEST(H265RTPSourceTest, HandsOnNalUnitsInDecodingOrder) {
    std::vector<Bytes> nals;
    for (int i = 0; i < 40; ++i) {
        const uint8_t type = i % 10 == 0 ? 19 : 1;  // IDR_W_RADL, then TRAIL_R
        Bytes nal = {uint8_t(type << 1), 1, 0x80, uint8_t(i)};
        nal.resize(i % 7 == 3 ? 900 : 20 + size_t(i), uint8_t(i));
        nals.push_back(nal);
    }
    const uint16_t firstDon = 65530;
    std::vector<Bytes> packets;
    uint16_t seq = 100;
    for (size_t i = 0; i + 1 < nals.size(); i += 2) {
        const size_t order[2] = {i + 1, i};  // sent swapped
        const uint32_t ts = uint32_t(i) * 3600;
        if (i % 6 == 4 && nals[i].size() < 300 && nals[i + 1].size() < 300) {
            // Both in one aggregation packet, in decoding order (DOND only counts forward):
            // DONL of the first, DOND of the second.
            const uint16_t don0 = uint16_t(firstDon + i);
            Bytes ap = {uint8_t(48 << 1), 1, uint8_t(don0 >> 8), uint8_t(don0)};
            for (size_t k = 0; k < 2; ++k) {
                const Bytes& n = nals[i + k];
                if (k == 1) ap.push_back(0);  // DOND: the next number
                ap.push_back(uint8_t(n.size() >> 8));
                ap.push_back(uint8_t(n.size()));
                ap.insert(ap.end(), n.begin(), n.end());
            }
            packets.push_back(rtp(seq++, ts, ap));
            continue;
        }
        for (size_t idx : order) {
            const Bytes& n = nals[idx];
            const uint16_t don = uint16_t(firstDon + idx);
            if (n.size() > 500) {
                for (size_t off = 2; off < n.size(); off += 300) {
                    const bool first = off == 2;
                    const bool last = off + 300 >= n.size();
                    Bytes fu = {uint8_t((n[0] & 0x81) | (49 << 1)), n[1],
                                uint8_t((first ? 0x80 : 0) | (last ? 0x40 : 0) | h265Type(n))};
                    if (first) {
                        fu.push_back(uint8_t(don >> 8));
                        fu.push_back(uint8_t(don));
                    }
                    fu.insert(fu.end(), n.begin() + std::ptrdiff_t(off),
                              n.begin() + std::ptrdiff_t(std::min(n.size(), off + 300)));
                    packets.push_back(rtp(seq++, ts, fu));
                }
            } else {
                Bytes single = {n[0], n[1], uint8_t(don >> 8), uint8_t(don)};
                single.insert(single.end(), n.begin() + 2, n.end());
                packets.push_back(rtp(seq++, ts, single));
            }
        }
    }
    Feed feed(2);
    feed.push(packets);
    // The last NAL units wait for numbers beyond them; a stream restart releases them.
    feed.source->expectSequenceNumber(5000);
    feed.h.after(1000, [&] { feed.h.stop(); });  // timers run in deadline order
    ASSERT_TRUE(feed.h.run());
    EXPECT_TRUE(sameUnits(feed.frames(), nals));
    EXPECT_EQ(feed.source->damagedCount(), 0u);
}

}  // namespace
