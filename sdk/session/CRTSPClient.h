// The RTSP client of one connection attempt of a live session: the RTSP layer's client plus
// the state of the request sequence (media session, subsession iterator, progress) and the
// session it works for. A reconnection closes it and makes a new one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "MediaSession.h"
#include "RTSPClient.h"

namespace kx::sdk {

class CLiveClient;

// The media session made from the SDP and the walk over its subsessions.
class StreamClientState {
public:
    StreamClientState() = default;
    virtual ~StreamClientState();  // closes the media session, frees the iterator
    StreamClientState(const StreamClientState&) = delete;
    StreamClientState& operator=(const StreamClientState&) = delete;

    std::unique_ptr<kx::media::MediaSubsessionIterator> m_pIter;
    kx::media::MediaSession* m_pSession = nullptr;        // owned; Medium::close
    kx::media::MediaSubsession* m_pSubsession = nullptr;  // the one being set up
    bool m_bMadeProgress = false;  // at least one subsession got a sink and plays
};

class CRTSPClient : public kx::media::RTSPClient {
public:
    // Null when memory runs out. Released with Medium::close, on the session's thread.
    static CRTSPClient* createNew(kx::media::UsageEnvironment& env, const char* url);

    StreamClientState m_scs;
    CLiveClient* m_pLiveClient = nullptr;  // not owned; handlers do nothing while null

    // Seeks whose PLAY was sent on this connection and not yet answered. Each uses the slot's
    // own response handler, so a reply finds its seek even when an earlier PLAY was never
    // answered.
    struct PendingSeek {
        bool bUsed = false;
        uint32_t nSeekId = 0;
        int32_t nPosition = 0;
    };
    static constexpr size_t kSeekSlots = 8;
    std::array<PendingSeek, kSeekSlots> m_pendingSeeks{};

protected:
    CRTSPClient(kx::media::UsageEnvironment& env, const char* url);
    ~CRTSPClient() override;  // closes sinks still attached to its subsessions
};

}  // namespace kx::sdk
