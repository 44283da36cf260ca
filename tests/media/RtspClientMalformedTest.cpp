// Replies no real server gives: bytes that are not RTSP, interleaved frames on channels
// nobody set up, a connection closed in the middle of a reply. A raw socket server of the
// test's own writes exactly the bytes given.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "LoopHarness.h"
#include "RTSPClient.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

// Accepts one connection on 127.0.0.1, waits for the first request, answers with the given
// bytes (with "%CSEQ%" replaced by the request's CSeq) and closes.
class RawServer {
public:
    explicit RawServer(std::string answer) : m_answer(std::move(answer)) {
        m_socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP,
                                nullptr);
        GInetAddress* lo = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        GSocketAddress* addr = g_inet_socket_address_new(lo, 0);
        g_socket_bind(m_socket, addr, TRUE, nullptr);
        g_socket_listen(m_socket, nullptr);
        GSocketAddress* local = g_socket_get_local_address(m_socket, nullptr);
        m_port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
        g_object_unref(local);
        g_object_unref(addr);
        g_object_unref(lo);
        m_thread = std::thread([this] { serve(); });
    }
    ~RawServer() {
        g_socket_shutdown(m_socket, TRUE, TRUE, nullptr);
        g_socket_close(m_socket, nullptr);
        if (m_thread.joinable()) m_thread.join();
        g_object_unref(m_socket);
    }
    std::string url() const { return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/x"; }

private:
    void serve() {
        GSocket* client = g_socket_accept(m_socket, nullptr, nullptr);
        if (client == nullptr) return;
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const gssize n = g_socket_receive(client, buf, sizeof buf, nullptr, nullptr);
            if (n <= 0) break;
            request.append(buf, static_cast<size_t>(n));
        }
        std::string cseq = "1";
        const size_t pos = request.find("CSeq: ");
        if (pos != std::string::npos) {
            cseq = request.substr(pos + 6, request.find("\r\n", pos) - pos - 6);
        }
        std::string answer = m_answer;
        for (size_t p; (p = answer.find("%CSEQ%")) != std::string::npos;) {
            answer.replace(p, 6, cseq);
        }
        g_socket_send(client, answer.data(), answer.size(), nullptr, nullptr);
        g_socket_shutdown(client, FALSE, TRUE, nullptr);
        // Let the client read before the socket goes.
        while (g_socket_receive(client, buf, sizeof buf, nullptr, nullptr) > 0) {
        }
        g_socket_close(client, nullptr);
        g_object_unref(client);
    }

    std::string m_answer;
    GSocket* m_socket = nullptr;
    uint16_t m_port = 0;
    std::thread m_thread;
};

struct Outcome {
    std::vector<int> codes;
};
Outcome* g_outcome = nullptr;

std::vector<int> optionsAgainst(const std::string& answer) {
    RawServer server(answer);
    LoopHarness h;
    Outcome outcome;
    g_outcome = &outcome;
    RTSPClient* client = new RTSPClient(h.env, server.url().c_str());
    static LoopHarness* harness;
    harness = &h;
    client->sendOptionsCommand([](RTSPClient*, int code, char* text) {
        delete[] text;
        g_outcome->codes.push_back(code);
        harness->stop();
    });
    EXPECT_TRUE(h.run());
    Medium::close(client);
    return outcome.codes;
}

TEST(RtspClientMalformedTest, BytesThatAreNotRtspFailTheRequest) {
    const std::vector<int> codes = optionsAgainst("this is not RTSP at all\r\n\r\n");
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_TRUE(codes[0] == RTSPClient::kErrorMalformed || codes[0] == RTSPClient::kErrorClosed)
        << codes[0];
}

TEST(RtspClientMalformedTest, ConnectionClosedInTheMiddleOfAReply) {
    const std::vector<int> codes =
        optionsAgainst("RTSP/1.0 200 OK\r\nCSeq: %CSEQ%\r\nContent-Length: 500\r\n\r\nshort");
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_LT(codes[0], 0);
}

TEST(RtspClientMalformedTest, FramesOnUnknownChannelsAreIgnored) {
    std::string frames;
    for (int ch : {0, 1, 7, 255}) {
        frames += '$';
        frames += static_cast<char>(ch);
        frames += std::string("\x00\x04", 2);
        frames += "abcd";
    }
    frames += std::string("$\x03\x00\x00", 4);  // an empty frame
    const std::vector<int> codes = optionsAgainst(
        frames + "RTSP/1.0 200 OK\r\nCSeq: %CSEQ%\r\nPublic: OPTIONS, DESCRIBE\r\n\r\n");
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0], 0);
}

TEST(RtspClientMalformedTest, ReplyToAnotherCSeqIsNotTaken) {
    // The reply names a request never sent; then the server closes.
    const std::vector<int> codes =
        optionsAgainst("RTSP/1.0 200 OK\r\nCSeq: 4242\r\nPublic: OPTIONS\r\n\r\n");
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_LT(codes[0], 0);  // the connection's end, never the other reply's success
}

}  // namespace
