// RTP is taken only from the stream's sender: another host injecting packets into a UDP play
// reaches no frame, nor does a packet of another SSRC.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "CollectingSink.h"
#include "LoopHarness.h"
#include "MultiFramedRTPSource.h"
#include "RtspConversation.h"
#include "SimpleRTPSource.h"
#include "TestRtspServer.h"
#include "UdpSocket.h"

using namespace kx::media;
using namespace kx::media::test;
using Brelso::Testing::TestRtspServer;

namespace {

const uint8_t kForgedMarker[] = {'F', 'O', 'R', 'G', 'E', 'D'};

std::vector<uint8_t> rtpPacket(uint8_t payloadType, uint16_t seq, uint32_t ssrc,
                               const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> p(12 + payload.size(), 0);
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>(0x80 | payloadType);
    p[2] = static_cast<uint8_t>(seq >> 8);
    p[3] = static_cast<uint8_t>(seq);
    p[6] = 0x10;
    for (int i = 0; i < 4; ++i) p[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    for (size_t i = 0; i < payload.size(); ++i) p[12 + i] = payload[i];
    return p;
}

// Sends forged H.264 slices (payload type 96) from fromIp to 127.0.0.1:port.
size_t inject(const char* fromIp, uint16_t port, size_t count) {
    GSocket* socket =
        g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, nullptr);
    GSocketAddress* local = g_inet_socket_address_new_from_string(fromIp, 0);
    GSocketAddress* target = g_inet_socket_address_new_from_string("127.0.0.1", port);
    size_t sent = 0;
    if (g_socket_bind(socket, local, TRUE, nullptr)) {
        std::vector<uint8_t> slice = {0x41};
        slice.insert(slice.end(), std::begin(kForgedMarker), std::end(kForgedMarker));
        for (size_t i = 0; i < count; ++i) {
            const auto packet = rtpPacket(96, static_cast<uint16_t>(i), 0xDEADBEEF, slice);
            if (g_socket_send_to(socket, target, reinterpret_cast<const gchar*>(packet.data()),
                                 packet.size(), nullptr, nullptr) > 0) {
                ++sent;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    g_object_unref(target);
    g_object_unref(local);
    g_object_unref(socket);
    return sent;
}

bool forged(const CollectingSink::Frame& frame) {
    return std::search(frame.bytes.begin(), frame.bytes.end(), std::begin(kForgedMarker),
                       std::end(kForgedMarker)) != frame.bytes.end();
}

// A UDP play of the real server while another host (127.0.0.2), and a stranger on the
// server's own address, send RTP to the client's port.
TEST(RtpSenderFilterTest, InjectedRtpReachesNoFrame) {
    TestRtspServer server;
    server.addLiveMounts(Brelso::Tools::kTransportUdp);
    ASSERT_TRUE(server.start()) << server.lastError();
    LoopHarness h;
    std::thread injector;
    std::atomic<bool> injected{false};
    size_t framesAtInjection = 0;
    size_t sentFromOtherHost = 0;
    size_t sentFromOtherPort = 0;
    RtspConversation::Options o;
    o.done = [&](RtspConversation& c) {
        CollectingSink* video = c.sinkFor("video");
        if (video == nullptr || video->frames.empty()) return false;
        if (!injector.joinable()) {
            framesAtInjection = video->frames.size();
            const uint16_t port = c.session->subsessions()[0]->clientPortNum();
            injector = std::thread([&, port] {
                sentFromOtherHost = inject("127.0.0.2", port, 200);
                sentFromOtherPort = inject("127.0.0.1", port, 50);
                injected = true;
            });
        }
        // The play goes on well past the injection.
        return injected && video->frames.size() > framesAtInjection + 50;
    };
    RtspConversation c(h, server.url(TestRtspServer::kH264), o);
    c.start();
    const bool finished = h.run();
    if (injector.joinable()) injector.join();
    ASSERT_TRUE(finished);
    ASSERT_NE(c.sinkFor("video"), nullptr);
    EXPECT_GT(sentFromOtherHost, 0u);
    EXPECT_GT(sentFromOtherPort, 0u);
    size_t forgedFrames = 0;
    for (const auto& frame : c.sinkFor("video")->frames) forgedFrames += forged(frame) ? 1 : 0;
    EXPECT_EQ(forgedFrames, 0u);
    auto* source = dynamic_cast<MultiFramedRTPSource*>(c.session->subsessions()[0]->rtpSource());
    ASSERT_NE(source, nullptr);
    EXPECT_GT(source->foreignSenderDropped(), 0u);
}

struct Fed {
    LoopHarness h;
    SimpleRTPSource* source = SimpleRTPSource::createNew(h.env, 0, 8000);
    CollectingSink* sink = CollectingSink::createNew(h.env);
    Fed() { sink->startPlaying(*source, nullptr, nullptr); }
    ~Fed() {
        Medium::close(sink);
        Medium::close(source);
    }
    void push(uint32_t ssrc, uint16_t firstSeq, uint8_t fill, uint16_t count = 3) {
        for (uint16_t i = 0; i < count; ++i) {
            const auto p = rtpPacket(0, static_cast<uint16_t>(firstSeq + i), ssrc,
                                     std::vector<uint8_t>(8, fill));
            source->handlePacket(p.data(), p.size());
        }
    }
    size_t framesOf(uint8_t fill) const {
        size_t n = 0;
        for (const auto& f : sink->frames) n += !f.bytes.empty() && f.bytes[0] == fill ? 1 : 0;
        return n;
    }
};

TEST(RtpSenderFilterTest, TheFirstSsrcStaysTheStreams) {
    Fed fed;
    fed.push(0x1111, 100, 0xAA);
    fed.push(0x2222, 500, 0xBB);
    fed.push(0x1111, 103, 0xAA);
    EXPECT_EQ(fed.framesOf(0xAA), 6u);
    EXPECT_EQ(fed.framesOf(0xBB), 0u);
    EXPECT_EQ(fed.source->foreignSsrcDropped(), 3u);
}

TEST(RtpSenderFilterTest, TheAnnouncedSsrcWinsOverTheFirstPacket) {
    Fed fed;
    fed.source->expectSsrc(0x2222);
    fed.push(0x1111, 100, 0xAA);  // came first, but is not the announced sender
    fed.push(0x2222, 500, 0xBB);
    EXPECT_EQ(fed.framesOf(0xAA), 0u);
    EXPECT_EQ(fed.framesOf(0xBB), 3u);
}

// A server that names one SSRC and sends with another (from its own address and port) is
// still played, after a run of packets, rather than never.
TEST(RtpSenderFilterTest, AWrongAnnouncementGivesWayToASteadySender) {
    Fed fed;
    fed.source->expectSsrc(0x2222);
    fed.push(0x1111, 100, 0xAA, MultiFramedRTPSource::kAdoptAfter + 5);
    EXPECT_EQ(fed.framesOf(0xAA), 6u);
    EXPECT_EQ(fed.source->foreignSsrcDropped(), MultiFramedRTPSource::kAdoptAfter - 1);
    fed.push(0x2222, 500, 0xBB);  // now the other one is foreign
    EXPECT_EQ(fed.framesOf(0xBB), 0u);
}

TEST(RtpSenderFilterTest, SocketTakesOnlyTheNamedSender) {
    std::string error;
    std::unique_ptr<UdpSocket> socket = UdpSocket::bind(0, &error);
    ASSERT_TRUE(socket) << error;
    socket->acceptOnlyFrom("127.0.0.1", 0);
    ASSERT_EQ(inject("127.0.0.2", socket->localPort(), 3), 3u);
    ASSERT_EQ(inject("127.0.0.1", socket->localPort(), 2), 2u);
    uint8_t buffer[2048];
    size_t received = 0;
    // Loopback delivers at once; read until the two from 127.0.0.1 have come.
    for (int attempt = 0; attempt < 1000 && received < 2; ++attempt) {
        if (socket->receive(buffer, sizeof buffer) > 0) {
            ++received;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(received, 2u);
    EXPECT_EQ(socket->foreignDropped(), 3u);
}

}  // namespace
