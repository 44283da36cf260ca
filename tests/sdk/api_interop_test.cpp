// What an integrator reads in the log when a server departs from the usual: a refused TCP
// transport is an error naming the server's status line; replies in tolerated odd forms are
// noted once per session, however many arrive.
#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::ScriptedRtspServer;
using Testing::TestRtspServer;

// The log lines that contain the text.
std::vector<std::string> linesWith(const std::string& log, const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

// The real server offering RTP over UDP only answers a TCP SETUP with 461.
TEST_F(ApiTest, RefusedTcpIsAnErrorWithTheStatusLine) {
    TestRtspServer server;
    server.addLiveMounts(Tools::kTransportUdp);
    ASSERT_TRUE(server.start()) << server.lastError();
    EXPECT_EQ(play(server.port(), TestRtspServer::kH264, true), -1);
    const auto lines = linesWith(logText(), "RTSP/1.0 461 Unsupported");
    ASSERT_EQ(lines.size(), 1u) << logText();
    EXPECT_NE(lines[0].find("[error]"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("does not offer RTP over TCP"), std::string::npos) << lines[0];
}

// The scripted server refusing TCP the same way; over UDP it plays.
TEST_F(ApiTest, RefusedTcpFromTheScriptedServer) {
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpMedia(0, "audio", 0, "PCMU/8000")}));
    server.setRefuseTcp(true);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(play(server.port(), "/stream", true), -1);
    EXPECT_EQ(linesWith(logText(), "RTSP/1.0 461").size(), 1u) << logText();
}

#ifdef KXNETCLI_PROGRAM
// The command-line tool tells a user why a TCP play failed when the server offers only UDP.
TEST(KxNetCliTest, SaysWhenTheServerDoesNotOfferTcp) {
    TestRtspServer server;
    server.addLiveMounts(Tools::kTransportUdp);
    ASSERT_TRUE(server.start()) << server.lastError();
    const std::string command = std::string(KXNETCLI_PROGRAM) + " --tcp --seconds 1 " +
                                server.url(TestRtspServer::kH264) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(output.find("the server does not offer RTP over TCP; try without --tcp"),
              std::string::npos)
        << output;
}
#endif

TEST_F(ApiTest, OddRepliesAreLoggedOncePerSession) {
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpMedia(0, "audio", 0, "PCMU/8000")}));
    server.setTrackPlan(0, Testing::singlePacketPlan(0, {Bytes(160, 0x55)}, 20, 160, true));
    server.setQuirks(ScriptedRtspServer::kQuirkNoCSeq | ScriptedRtspServer::kQuirkLowerCaseHeaders);
    server.setBasicAuth("viewer", "s3cret");
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", false, "viewer", "s3cret");
    ASSERT_GE(handle, 0) << logText();
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    EXPECT_TRUE(collector.waitForCount(KX_DATA_PCMU, 5, 20s));
    EXPECT_GE(server.requests().size(), 5u);  // every reply without CSeq, in lower case
    for (const char* deviation : {"without CSeq", "unusual case"}) {
        const auto lines = linesWith(logText(), deviation);
        ASSERT_EQ(lines.size(), 1u) << deviation << "\n" << logText();
        EXPECT_NE(lines[0].find("[detail]"), std::string::npos) << lines[0];
    }
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

}  // namespace
}  // namespace Brelso::ApiTests
