// UDP datagrams read in batches: a burst taken with few calls, in order and intact; datagrams of
// a stranger and datagrams longer than a slot dropped and counted, never handed on; an RTP
// source that reads a burst larger than one wake-up's share loses and reorders nothing.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CollectingSink.h"
#include "LoopHarness.h"
#include "SimpleRTPSource.h"
#include "UdpSocket.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

// A UDP socket on a loopback address that sends to 127.0.0.1:port.
class Sender {
public:
    Sender(const char* fromIp, uint16_t port) {
        m_socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP,
                                nullptr);
        GSocketAddress* local = g_inet_socket_address_new_from_string(fromIp, 0);
        m_bound = g_socket_bind(m_socket, local, TRUE, nullptr);
        g_object_unref(local);
        m_target = g_inet_socket_address_new_from_string("127.0.0.1", port);
    }
    ~Sender() {
        g_object_unref(m_target);
        g_object_unref(m_socket);
    }
    bool send(const std::vector<uint8_t>& bytes) {
        return m_bound && g_socket_send_to(
                              m_socket, m_target, reinterpret_cast<const gchar*>(bytes.data()),
                              bytes.size(), nullptr, nullptr) == static_cast<gssize>(bytes.size());
    }

private:
    GSocket* m_socket = nullptr;
    GSocketAddress* m_target = nullptr;
    bool m_bound = false;
};

// Bytes that tell datagrams apart: the index in every byte.
std::vector<uint8_t> datagram(size_t size, uint8_t index) {
    return std::vector<uint8_t>(size, index);
}

struct BatchCase {
    const char* name;
    unsigned slots;
    size_t slotSize;
    std::vector<std::pair<bool, size_t>> burst;  // (from the stranger, size), in sending order
    std::vector<size_t> acceptedSizes;           // what is handed on, in order
    uint64_t foreign;
    uint64_t oversize;
};

class UdpBatchReceiveTest : public ::testing::TestWithParam<BatchCase> {};

TEST_P(UdpBatchReceiveTest, TakesTheBurstAsTheFilterAndTheSlotsAllow) {
    const BatchCase& c = GetParam();
    std::string error;
    std::unique_ptr<UdpSocket> socket = UdpSocket::bind(0, &error);
    ASSERT_TRUE(socket) << error;
    socket->acceptOnlyFrom("127.0.0.1", 0);
    Sender server("127.0.0.1", socket->localPort());
    Sender stranger("127.0.0.2", socket->localPort());
    std::vector<uint8_t> expectedIndexes;
    for (size_t i = 0; i < c.burst.size(); ++i) {
        const auto& [fromStranger, size] = c.burst[i];
        ASSERT_TRUE((fromStranger ? stranger : server).send(datagram(size, uint8_t(i))));
        if (!fromStranger && size <= c.slotSize) expectedIndexes.push_back(uint8_t(i));
    }
    std::vector<uint8_t> buffer(c.slots * c.slotSize);
    std::vector<UdpSocket::Datagram> out(c.slots);
    std::vector<size_t> sizes;
    std::vector<uint8_t> indexes;
    size_t taken = 0, calls = 0;
    // Loopback queues every datagram at once; a call that finds none is only retried.
    for (int attempt = 0; attempt < 2000 && taken < c.burst.size(); ++attempt) {
        unsigned accepted = 0;
        const unsigned n =
            socket->receiveBatch(buffer.data(), c.slotSize, c.slots, out.data(), &accepted);
        ASSERT_LE(n, c.slots);
        ASSERT_LE(accepted, n);
        if (n == 0) {
            g_usleep(1000);
            continue;
        }
        ++calls;
        taken += n;
        for (unsigned i = 0; i < accepted; ++i) {
            const UdpSocket::Datagram& d = out[i];
            ASSERT_GE(d.data, buffer.data());
            ASSERT_LE(d.data + d.size, buffer.data() + buffer.size());
            ASSERT_GT(d.size, 0u);
            // Intact: every byte carries the datagram's index.
            EXPECT_EQ(std::vector<uint8_t>(d.data, d.data + d.size),
                      std::vector<uint8_t>(d.size, d.data[0]));
            sizes.push_back(d.size);
            indexes.push_back(d.data[0]);
        }
    }
    EXPECT_EQ(taken, c.burst.size());
    EXPECT_GE(calls, (c.burst.size() + c.slots - 1) / c.slots);
    EXPECT_EQ(sizes, c.acceptedSizes);
    EXPECT_EQ(indexes, expectedIndexes);
    EXPECT_EQ(socket->foreignDropped(), c.foreign);
    EXPECT_EQ(socket->oversizeDropped(), c.oversize);
    // Nothing is left: a further call takes nothing.
    unsigned accepted = 0;
    EXPECT_EQ(socket->receiveBatch(buffer.data(), c.slotSize, c.slots, out.data(), &accepted), 0u);
}

const BatchCase kBatchCases[] = {
    {"StrangersInTheBurst",
     4,
     2048,
     {{false, 100},
      {true, 100},
      {false, 200},
      {false, 300},
      {true, 50},
      {false, 400},
      {false, 500}},
     {100, 200, 300, 400, 500},
     2,
     0},
    {"LongerThanASlot", 3, 1000, {{false, 1000}, {false, 1001}, {false, 999}}, {1000, 999}, 0, 1},
    {"TheLargestDatagram", 2, 65536, {{false, 65507}, {false, 1}}, {65507, 1}, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Bursts, UdpBatchReceiveTest, ::testing::ValuesIn(kBatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<uint8_t> rtp(uint8_t payloadType, uint16_t seq, bool marker,
                         const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> p(12 + payload.size(), 0);
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | payloadType);
    p[2] = static_cast<uint8_t>(seq >> 8);
    p[3] = static_cast<uint8_t>(seq);
    p[8] = 0x12;  // SSRC 0x12345678
    p[9] = 0x34;
    p[10] = 0x56;
    p[11] = 0x78;
    for (size_t i = 0; i < payload.size(); ++i) p[12 + i] = payload[i];
    return p;
}

// More packets than one wake-up takes, queued before the loop runs, with a stranger's among
// them: every packet of the server becomes a frame, in order.
TEST(UdpBatchSourceTest, ABurstLargerThanOneWakeupArrivesWhole) {
    LoopHarness h;
    std::string error;
    std::unique_ptr<UdpSocket> socket = UdpSocket::bind(0, &error);
    ASSERT_TRUE(socket) << error;
    socket->acceptOnlyFrom("127.0.0.1", 0);
    SimpleRTPSource* source = SimpleRTPSource::createNew(h.env, 0, 8000);
    source->attachSocket(socket.get());
    CollectingSink* sink = CollectingSink::createNew(h.env);
    constexpr unsigned kPackets = 100;
    sink->onFrame = [&h](CollectingSink& s) {
        if (s.frames.size() >= kPackets) h.stop();
    };
    sink->startPlaying(*source, nullptr, nullptr);
    {
        Sender server("127.0.0.1", socket->localPort());
        Sender stranger("127.0.0.2", socket->localPort());
        for (unsigned i = 0; i < kPackets; ++i) {
            ASSERT_TRUE(server.send(rtp(0, uint16_t(500 + i), false, {uint8_t(i), 0x55})));
            if (i % 10 == 0) {
                ASSERT_TRUE(stranger.send(rtp(0, uint16_t(i), false, {0xEE})));
            }
        }
    }
    EXPECT_TRUE(h.run(20000000));
    ASSERT_EQ(sink->frames.size(), kPackets);
    for (unsigned i = 0; i < kPackets; ++i) {
        EXPECT_EQ(sink->frames[i].bytes, (std::vector<uint8_t>{uint8_t(i), 0x55})) << i;
    }
    EXPECT_EQ(source->foreignSenderDropped(), kPackets / 10);
    Medium::close(sink);
    source->detachSocket();
    Medium::close(source);
}

}  // namespace
