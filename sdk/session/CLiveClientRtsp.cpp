// CLiveClient: the RTSP request sequence (OPTIONS, DESCRIBE, SETUP per subsession, PLAY),
// the choice of media sink, and the shutdown of a stream. All on the session's thread.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "AACDataSink.h"
#include "CLiveClient.h"
#include "CLog.h"
#include "CRTSPClient.h"
#include "G7221DataSink.h"
#include "H264DataSink.h"
#include "H265DataSink.h"
#include "MediaSession.h"
#include "Mpeg4DataSink.h"
#include "PCMUDataSink.h"
#include "PrivateDataSink.h"
#include "RTCPInstance.h"
#include "RTPSource.h"
#include "RtspUrl.h"

namespace kx::sdk {

using Brelso::Public::LOG_DETAIL;
using Brelso::Public::LOG_ERROR;
using Brelso::Public::LOG_WARNING;
using kx::media::MediaSession;
using kx::media::MediaSink;
using kx::media::MediaSubsession;
using kx::media::Medium;

namespace {

using OwnedText = std::unique_ptr<char[]>;

const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// A reply text as it may be logged: addresses in it without their passwords. Built only when
// "detail" lines are written.
std::string logText(const char* text) {
    if ((Brelso::Public::CLog::GetInstance()->LevelMask() & LOG_DETAIL) == 0) return {};
    return MaskRtspUrlsInText(text);
}

}  // namespace

CLiveClient* CLiveClient::SessionOf(kx::media::RTSPClient* client) {
    return client == nullptr ? nullptr : static_cast<CRTSPClient*>(client)->m_pLiveClient;
}

void CLiveClient::MediaNotice(void* session, kx::media::UsageEnvironment::Notice kind,
                              const char* text) {
    auto* self = static_cast<CLiveClient*>(session);
    const bool refused = kind == kx::media::UsageEnvironment::Notice::Refused;
    // Once per session, across reconnections; the layer reports each kind once per object.
    if (self == nullptr || text == nullptr || self->m_loggedNotices.size() >= 64 ||
        !self->m_loggedNotices.insert(text).second) {
        return;
    }
    KX_LOG(refused ? LOG_WARNING : LOG_DETAIL, "[%s] RealHandle:%d, %s \n",
           refused ? "CLiveClient::RefusedPackets" : "CLiveClient::ToleratedReply",
           self->m_nRealHandle.load(), text);
}

void CLiveClient::SendOptions(CRTSPClient* client) {
    client->sendOptionsCommand(&CLiveClient::ContinueAfterOPTIONS);
}

void CLiveClient::ContinueAfterOPTIONS(kx::media::RTSPClient* rtsp, int code, char* text) {
    OwnedText owned(text);
    CLiveClient* self = SessionOf(rtsp);
    if (self == nullptr) return;
    try {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, resultCode:%d, resultString:%s \n",
               "CLiveClient::ContinueAfterOPTIONS", self->m_nRealHandle.load(), code,
               logText(text).c_str());
        if (code != 0) {
            self->ReportStartResult(1);
            return;
        }
        self->m_bSupportGetParameter = text != nullptr && std::strstr(text, "GET_PARAMETER");
        owned.reset();
        rtsp->sendDescribeCommand(&CLiveClient::ContinueAfterDESCRIBE);
    } catch (...) {
        self->ReportStartResult(1);
    }
}

void CLiveClient::ContinueAfterDESCRIBE(kx::media::RTSPClient* rtsp, int code, char* text) {
    OwnedText owned(text);
    CLiveClient* self = SessionOf(rtsp);
    if (self == nullptr) return;
    auto* client = static_cast<CRTSPClient*>(rtsp);
    try {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, resultCode:%d, resultString:%s \n",
               "CLiveClient::ContinueAfterDESCRIBE", self->m_nRealHandle.load(), code,
               logText(text).c_str());
        if (code != 0) {
            self->ReportStartResult(1);
            return;
        }
        StreamClientState& scs = client->m_scs;
        Medium::close(scs.m_pSession);
        scs.m_pSession = MediaSession::createNew(self->Env(), orEmpty(text));
        self->ScanVideoLength(text);
        owned.reset();
        if (scs.m_pSession == nullptr) {
            KX_LOG(LOG_ERROR,
                   "[%s] RealHandle:%d, failed to create a MediaSession object from the SDP "
                   "description : %s \n",
                   "CLiveClient::ContinueAfterDESCRIBE", self->m_nRealHandle.load(),
                   self->Env().getResultMsg());
            self->ReportStartResult(1);
            return;
        }
        if (!scs.m_pSession->hasSubsessions()) {
            KX_LOG(LOG_ERROR, "[%s] RealHandle:%d, This session has no media subsessions.\n",
                   "CLiveClient::ContinueAfterDESCRIBE", self->m_nRealHandle.load());
            self->ReportStartResult(1);
            return;
        }
        scs.m_pIter = std::make_unique<kx::media::MediaSubsessionIterator>(*scs.m_pSession);
        self->SetupNextSubsession(client);
    } catch (...) {
        self->ReportStartResult(1);
    }
}

void CLiveClient::SetupNextSubsession(CRTSPClient* client) {
    StreamClientState& scs = client->m_scs;
    while (true) {
        scs.m_pSubsession = scs.m_pIter ? scs.m_pIter->next() : nullptr;
        MediaSubsession* sub = scs.m_pSubsession;
        if (sub == nullptr) {
            if (scs.m_bMadeProgress) {
                client->sendPlayCommand(*scs.m_pSession, &CLiveClient::ContinueAfterPLAY, 0.0, -1.0,
                                        1.0f);
            } else {
                ReportStartResult(1);
            }
            return;
        }
        if (!sub->initiate()) {
            KX_LOG(LOG_ERROR, "[%s] RealHandle:%d, subsession initiate fail. \n",
                   "CLiveClient::SetupNextSubsession", m_nRealHandle.load());
            continue;
        }
        if (kx::media::RTPSource* rtp = sub->rtpSource()) {
            rtp->setPacketReorderingThresholdTime(kReorderingThresholdUs);
            if (rtp->getReceiveBufferSize() < kReceiveBufferSize) {
                rtp->setReceiveBufferTo(kReceiveBufferSize);
            }
        }
        client->sendSetupCommand(*sub, &CLiveClient::ContinueAfterSETUP, false, m_bUseTcp != 0,
                                 m_bForceMulticast != 0);
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, send setup command.\n",
               "CLiveClient::SetupNextSubsession", m_nRealHandle.load());
        return;
    }
}

void CLiveClient::ContinueAfterSETUP(kx::media::RTSPClient* rtsp, int code, char* text) {
    OwnedText owned(text);
    CLiveClient* self = SessionOf(rtsp);
    if (self == nullptr) return;
    auto* client = static_cast<CRTSPClient*>(rtsp);
    MediaSubsession* sub = client->m_scs.m_pSubsession;
    if (sub == nullptr) return;
    try {
        KX_LOG(LOG_DETAIL,
               "[%s] RealHandle:%d, resultCode:%d, mediumName:%s, codecName:%s, "
               "resultString:%s \n",
               "CLiveClient::ContinueAfterSETUP", self->m_nRealHandle.load(), code,
               sub->mediumName(), sub->codecName(), logText(text).c_str());
        if (code > 0) {
            // The server refused: say why, so that a refused transport is told apart from a
            // missing stream or a wrong password.
            const bool tcpRefused = code == 461 && self->m_bUseTcp != 0;
            KX_LOG(LOG_ERROR,
                   "[%s] RealHandle:%d, the server refused SETUP of %s/%s over %s: RTSP/1.0 %s%s\n",
                   "CLiveClient::ContinueAfterSETUP", self->m_nRealHandle.load(), sub->mediumName(),
                   sub->codecName(), self->m_bUseTcp != 0 ? "TCP" : "UDP", orEmpty(text),
                   tcpRefused ? " (the server does not offer RTP over TCP)" : "");
        }
        owned.reset();
        if (code != 0) {
            self->SetupNextSubsession(client);
            return;
        }
        MediaSink* sink = self->CreateSink(*sub);
        sub->sink = sink;
        if (sink == nullptr) {
            self->SetupNextSubsession(client);
            return;
        }
        sub->miscPtr = client;
        kx::media::FramedSource* source = sub->readSource();
        if (source == nullptr ||
            !sink->startPlaying(*source, &CLiveClient::SubsessionAfterPlaying, sub)) {
            Medium::close(sink);
            sub->sink = nullptr;
            self->SetupNextSubsession(client);
            return;
        }
        if (kx::media::RTCPInstance* rtcp = sub->rtcpInstance()) {
            rtcp->setByeHandler(&CLiveClient::SubsessionByeHandler, sub);
        }
        client->m_scs.m_bMadeProgress = true;
        self->SetupNextSubsession(client);
    } catch (...) {
        self->ReportStartResult(1);
    }
}

MediaSink* CLiveClient::CreateSink(MediaSubsession& sub) {
    const char* medium = sub.mediumName();
    const char* codec = sub.codecName();
    const int32_t handle = m_nRealHandle;
    const auto is = [](const char* a, const char* b) { return std::strcmp(a, b) == 0; };
    static constexpr const char* kWhere = "CLiveClient::ContinueAfterSETUP";

    if (is(medium, "video") && is(codec, "H264")) {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, create h264 video data sink.\n", kWhere, handle);
        return H264DataSink::createNew(Env(), this, sub.fmtp_spropparametersets());
    }
    if (is(medium, "video") && is(codec, "H265")) {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, create h265 video data sink.\n", kWhere, handle);
        return H265DataSink::createNew(Env(), this, sub.attrVal_str("sprop-vps"),
                                       sub.attrVal_str("sprop-sps"), sub.attrVal_str("sprop-pps"));
    }
    if (is(medium, "video") && is(codec, "MP4V-ES")) {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, create mpeg4 video data sink.\n", kWhere, handle);
        return Mpeg4DataSink::createNew(Env(), this, sub.fmtp_config());
    }
    const unsigned channels = sub.numChannels();
    const unsigned sampleRate = sub.rtpTimestampFrequency();
    if (is(medium, "audio") && (is(codec, "PCMU") || is(codec, "PCMA"))) {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, create pcm audio data sink, codecName(%s)\n",
               kWhere, handle, codec);
        PCMUDataSink* sink =
            PCMUDataSink::createNew(Env(), this, is(codec, "PCMU") ? KX_DATA_PCMU : KX_DATA_PCMA);
        if (sink != nullptr) sink->SetAudioFormat(sampleRate, channels);
        return sink;
    }
    const bool aac = is(codec, "MPEG4-GENERIC");
    if (is(medium, "audio") && (aac || is(codec, "G7221"))) {
        KX_LOG(LOG_DETAIL,
               aac ? "[%s] RealHandle:%d, create aac audio data sink, fmtp_mode(%s), channel(%d), "
                     "sampleRate(%d).\n"
                   : "[%s] RealHandle:%d, create g7221 audio data sink, fmtp_mode(%s), "
                     "channel(%d), sampleRate(%d).\n",
               kWhere, handle, sub.fmtp_mode(), static_cast<int>(channels),
               static_cast<int>(sampleRate));
        AudioDataSink* sink = aac ? static_cast<AudioDataSink*>(AACDataSink::createNew(Env(), this))
                                  : G7221DataSink::createNew(Env(), this);
        if (sink != nullptr) sink->SetAudioFormat(sampleRate, channels);
        return sink;
    }
    if (is(medium, "video") && is(codec, "PRIVATE")) {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, create private data sink.\n", kWhere, handle);
        return PrivateDataSink::createNew(Env(), this);
    }
    return nullptr;
}

void CLiveClient::ContinueAfterPLAY(kx::media::RTSPClient* rtsp, int code, char* text) {
    OwnedText owned(text);
    CLiveClient* self = SessionOf(rtsp);
    if (self == nullptr) return;
    auto* client = static_cast<CRTSPClient*>(rtsp);
    try {
        KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, resultCode:%d, resultString:%s \n",
               "CLiveClient::ContinueAfterPLAY", self->m_nRealHandle.load(), code,
               logText(text).c_str());
        if (code != 0) {
            self->ReportStartResult(1);
            return;
        }
        owned.reset();
        const unsigned timeout = client->sessionTimeoutParameter();
        self->m_nSessionTimeout = timeout != 0 ? timeout : 60;
        if (self->m_bSupportGetParameter) self->ArmHeartbeat();
        self->RefreshLastData();
        self->ArmDisconnectCheck();
        {
            std::lock_guard<std::mutex> lock(self->m_mtxStart);
            if (self->m_nState == Starting) {
                self->m_nStartResult = 0;
                self->m_bStartAnswered = true;
                self->m_condStart.notify_all();
            }
        }
        // A stream of known length ends by itself at the end of its range; a live stream
        // (length 0) or one whose length is unknown has no end.
        const uint64_t length = self->m_nVideoLength;
        if (length != 0 && length != kUnknownLength && client->m_scs.m_pSession != nullptr) {
            const MediaSession& session = *client->m_scs.m_pSession;
            const double range = session.playEndTime() - session.playStartTime();
            const int64_t delayMs = range > 0 ? RangeToMs(range)
                                              : static_cast<int64_t>(std::min<uint64_t>(
                                                    length, static_cast<uint64_t>(kMaxDelayMs)));
            self->ArmStreamEndTimer(client, delayMs);
        }
    } catch (...) {
        self->ReportStartResult(1);
    }
}

void CLiveClient::ShutdownStream(CRTSPClient* client) {
    if (client == nullptr || client->m_scs.m_pSession == nullptr) return;
    MediaSession& session = *client->m_scs.m_pSession;
    bool closedAny = false;
    for (auto& sub : session.subsessions()) {
        if (sub->sink == nullptr) continue;
        Medium::close(sub->sink);
        sub->sink = nullptr;
        if (kx::media::RTCPInstance* rtcp = sub->rtcpInstance())
            rtcp->setByeHandler(nullptr, nullptr);
        closedAny = true;
    }
    if (closedAny) client->sendTeardownCommand(session, nullptr);
}

void CLiveClient::SubsessionAfterPlaying(void* subsession) {
    auto* sub = static_cast<MediaSubsession*>(subsession);
    auto* client = static_cast<CRTSPClient*>(sub->miscPtr);
    CLiveClient* self = client != nullptr ? client->m_pLiveClient : nullptr;
    if (self == nullptr) return;
    KX_LOG(LOG_WARNING,
           "[%s] RealHandle:%d, all subsession' streams have now been closed, wait for "
           "disconnect check.\n",
           "CLiveClient::SubsessionAfterPlaying", self->m_nRealHandle.load());
}

void CLiveClient::SubsessionByeHandler(void* subsession) {
    auto* sub = static_cast<MediaSubsession*>(subsession);
    auto* client = static_cast<CRTSPClient*>(sub->miscPtr);
    CLiveClient* self = client != nullptr ? client->m_pLiveClient : nullptr;
    if (self == nullptr) return;
    KX_LOG(LOG_WARNING, "[%s] RealHandle:%d, receive rtcp bye.\n",
           "CLiveClient::SubsessionByeHandler", self->m_nRealHandle.load());
    SubsessionAfterPlaying(subsession);
}

}  // namespace kx::sdk
