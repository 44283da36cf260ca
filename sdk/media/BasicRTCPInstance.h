// BasicRTCPInstance: RTCP of one received subsession. Sends a receiver report (with SDES
// CNAME) every few seconds, over UDP to the server's RTCP port or on the interleaved channel;
// takes sender reports (presentation time sync) and reports BYE from the active sender.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "LoopTimer.h"
#include "RTCPInstance.h"

namespace kx::media {

class MultiFramedRTPSource;
class UdpSocket;
struct InterleavedLink;

class BasicRTCPInstance : public RTCPInstance {
public:
    static constexpr int64_t kReportInterval = 5000000;  // microseconds

    // socket: the subsession's RTCP socket (not owned; may be null for TCP-only use).
    static BasicRTCPInstance* createNew(UsageEnvironment& env, MultiFramedRTPSource* source,
                                        UdpSocket* socket);

    void setByeHandler(ByeHandler* handler, void* clientData) override;

    // Where reports go: the server's RTCP port over UDP ...
    void setUdpDestination(const std::string& host, uint16_t port);
    // ... or the interleaved channel of the RTSP connection (RTCP is channel rtp + 1).
    void setInterleavedDestination(std::shared_ptr<InterleavedLink> link, uint8_t channel);

    // Time between receiver reports (at least 100 ms); applies from the next report on.
    void setReportInterval(int64_t microseconds);
    int64_t reportInterval() const { return m_interval; }

    // Stops reading the UDP socket (the subsession is carried over TCP instead).
    void detachSocket();
    // Reads (and sends reports from) another socket, not owned.
    void attachSocket(UdpSocket* socket);

    // One RTCP compound packet as received.
    void handlePacket(const uint8_t* data, size_t size);

    uint64_t reportsSent() const { return m_reportsSent; }

protected:
    BasicRTCPInstance(UsageEnvironment& env, MultiFramedRTPSource* source, UdpSocket* socket);
    ~BasicRTCPInstance() override;

private:
    static void onReportTimer(void* clientData);
    static void onSocketReadable(void* clientData);
    void sendReport();
    void sendBye();
    bool transmit(const uint8_t* packet, size_t size);
    size_t buildReport(uint8_t* out, size_t capacity);

    MultiFramedRTPSource* m_source;
    UdpSocket* m_socket;
    LoopTimer m_reportTimer;
    uint32_t m_ssrc;
    std::string m_cname;
    ByeHandler* m_byeHandler = nullptr;
    void* m_byeClientData = nullptr;
    std::string m_udpHost;
    uint16_t m_udpPort = 0;
    std::shared_ptr<InterleavedLink> m_link;
    uint8_t m_channel = 0;
    uint64_t m_reportsSent = 0;
    bool m_reportedForeign = false;
    int64_t m_interval = kReportInterval;
    bool* m_destroyed = nullptr;
    uint8_t m_receiveBuffer[8192];
};

}  // namespace kx::media
