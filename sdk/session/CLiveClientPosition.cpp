// CLiveClient: stream length, play position and seeking.
#include <algorithm>
#include <array>
#include <ctime>
#include <memory>
#include <utility>

#include "CLiveClient.h"
#include "CRTSPClient.h"
#include "MediaSession.h"
#include "SdpLength.h"

namespace kx::sdk {

void CLiveClient::ScanVideoLength(const char* sdp) {
    uint64_t length = m_nVideoLength;
    ScanSdpVideoLength(sdp, length);
    m_nVideoLength = length;
}

void CLiveClient::UpdateCurrentTime(int64_t seconds, int64_t microseconds) {
    const int64_t t = seconds * 1000 + microseconds / 1000;
    if (m_bTimeBaseSet == 0) {
        m_nTimeBase = t;
        m_bTimeBaseSet = 1;
        return;
    }
    if (t < m_nTimeBase) return;
    const int64_t elapsed = t - m_nTimeBase;
    const int64_t current = static_cast<int64_t>(m_nCurrentTime.load());
    if (elapsed + 2000 < current || elapsed > current + 2000) {
        // A jump of more than 2 seconds: this frame keeps the position already held.
        m_nTimeBase = t - current;
        return;
    }
    m_nCurrentTime = static_cast<uint64_t>(elapsed);
}

int CLiveClient::SeekAndPlay(int32_t position) {
    const int32_t state = m_nState;
    if (state != Playing && state != Starting) return 0;  // the loop has ended
    if (m_pRtspClient.load() == nullptr) return 0;
    if (position < 0 || static_cast<uint64_t>(position) > m_nVideoLength.load()) return 0;

    uint32_t seekId = 0;
    {
        std::lock_guard<std::mutex> lock(m_mtxStart);
        if (++m_nSeekId == 0) ++m_nSeekId;
        seekId = m_nSeekId;
        m_nSeekPosition = position;
    }
    m_pScheduler->triggerEvent(&CLiveClient::SeekTask, this);

    const auto deadline = std::chrono::system_clock::from_time_t(std::time(nullptr) + kWaitSeconds);
    std::unique_lock<std::mutex> lock(m_mtxStart);
    m_condStart.wait_until(lock, deadline, [&] { return m_nSeekAnsweredId == seekId; });
    return m_nSeekAnsweredId == seekId && m_bSeekAccepted ? 1 : 0;
}

void CLiveClient::SeekTask(void* session) {
    auto* self = static_cast<CLiveClient*>(session);
    uint32_t seekId = 0;
    int32_t position = 0;
    {
        std::lock_guard<std::mutex> lock(self->m_mtxStart);
        if (self->m_nSeekId == self->m_nSeekSentId) return;  // sent already
        seekId = self->m_nSeekSentId = self->m_nSeekId;
        position = self->m_nSeekPosition;
    }
    try {
        CRTSPClient* client = self->m_pRtspClient;
        if (client == nullptr || client->m_scs.m_pSession == nullptr) {
            self->ReportSeekResult(seekId, false);
            return;
        }
        size_t slot = 0;
        while (slot < CRTSPClient::kSeekSlots && client->m_pendingSeeks[slot].bUsed) ++slot;
        if (slot == CRTSPClient::kSeekSlots) {  // the server answers none of the last seeks
            self->ReportSeekResult(seekId, false);
            return;
        }
        client->m_pendingSeeks[slot] = {true, seekId, position};
        const float start = static_cast<float>(position / 1000.0);
        client->sendPlayCommand(*client->m_scs.m_pSession, SeekReplyHandler(slot), start, -1.0,
                                1.0f);
    } catch (...) {
        self->ReportSeekResult(seekId, false);
    }
}

template <size_t Slot>
void CLiveClient::ContinueAfterSeekPLAY(kx::media::RTSPClient* rtsp, int code, char* text) {
    std::unique_ptr<char[]> owned(text);  // not used
    CLiveClient* self = SessionOf(rtsp);
    if (self != nullptr) self->HandleSeekReply(static_cast<CRTSPClient*>(rtsp), Slot, code);
}

kx::media::RTSPClient::responseHandler* CLiveClient::SeekReplyHandler(size_t slot) {
    static constexpr auto kHandlers = []<size_t... I>(std::index_sequence<I...>) {
        return std::array<kx::media::RTSPClient::responseHandler*, sizeof...(I)>{
            &CLiveClient::ContinueAfterSeekPLAY<I>...};
    }
    (std::make_index_sequence<CRTSPClient::kSeekSlots>());
    return kHandlers[slot];
}

void CLiveClient::HandleSeekReply(CRTSPClient* client, size_t slot, int code) {
    CRTSPClient::PendingSeek& pending = client->m_pendingSeeks[slot];
    if (!pending.bUsed) return;
    const CRTSPClient::PendingSeek seek = pending;
    pending = {};
    if (code != 0) {
        ReportStartResult(1);
        ReportSeekResult(seek.nSeekId, false);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxStart);
        if (m_nState == Starting) {
            m_nStartResult = 0;
            m_bStartAnswered = true;
            m_condStart.notify_all();
        }
    }
    try {
        // The end of the stream from the reply's range; an open range leaves the rest of a
        // known length, and no end at all when the length is unknown or 0 (live).
        const kx::media::MediaSession* session = client->m_scs.m_pSession;
        const double range =
            session != nullptr ? session->playEndTime() - session->playStartTime() : 0.0;
        const uint64_t length = m_nVideoLength;
        if (range > 0) {
            ArmStreamEndTimer(client, RangeToMs(range));
        } else if (length != 0 && length != kUnknownLength &&
                   length >= static_cast<uint64_t>(seek.nPosition)) {
            ArmStreamEndTimer(client, static_cast<int64_t>(std::min<uint64_t>(
                                          length - static_cast<uint64_t>(seek.nPosition),
                                          static_cast<uint64_t>(kMaxDelayMs))));
        } else {
            m_pScheduler->unscheduleDelayedTask(m_pStreamEndTask);
        }
    } catch (...) {
    }
    m_nCurrentTime = static_cast<uint64_t>(seek.nPosition);
    ReportSeekResult(seek.nSeekId, true);
}

void CLiveClient::ReportSeekResult(uint32_t seekId, bool accepted) {
    std::lock_guard<std::mutex> lock(m_mtxStart);
    if (seekId != m_nSeekId) return;  // a seek nobody waits for any more
    m_nSeekAnsweredId = seekId;
    m_bSeekAccepted = accepted;
    m_condStart.notify_all();
}

void CLiveClient::AbandonSeeks(CRTSPClient* client) {
    for (CRTSPClient::PendingSeek& seek : client->m_pendingSeeks) {
        if (seek.bUsed) ReportSeekResult(seek.nSeekId, false);
        seek = {};
    }
}

}  // namespace kx::sdk
