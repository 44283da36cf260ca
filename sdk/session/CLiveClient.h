// CLiveClient: one real-time play session. It owns one RTSP conversation with one address,
// run on its own event-loop thread: OPTIONS, DESCRIBE, one SETUP per usable subsession (with
// a media sink each), PLAY; then a GET_PARAMETER heartbeat when the server supports it, a
// check every 15 seconds that frames still arrive with a complete reconnection when none did,
// and for a stream of known length a timer that ends the session at the end of its range.
// Frames are packaged, recorded when a file is open, and handed to the data callback.
//
// Threads: construction, RealPlay, Stop, destruction and every public operation marked
// "caller" run on a caller's thread (serialised by the SDK instance). Everything else runs
// on the session's own thread, which alone uses the RTSP client, the media session and the
// scheduler. The data and end callbacks run on the session's thread while their mutex is
// held.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KXRtspSdk.h"
#include "RTSPClient.h"
#include "RtspUrl.h"
#include "StreamStartConfig.h"
#include "UsageEnvironment.h"

namespace kx::media {
class MediaSink;
class MediaSubsession;
}  // namespace kx::media

namespace kx::sdk {

class CRTSPClient;

class CLiveClient {
public:
    enum State : int32_t { Idle = 0, Starting = 1, Stopped = 2, Playing = 3 };

    // Length before the session description gave one ("unknown"; reads as -3).
    static constexpr uint64_t kUnknownLength = 0xFFFFFFFFFFFFFFFDull;
    static constexpr int32_t kInitialDataBufSize = 204800;
    static constexpr unsigned kReceiveBufferSize = 4194304;
    static constexpr unsigned kReorderingThresholdUs = 100000;
    static constexpr int64_t kDisconnectCheckUs = 15000000;
    static constexpr int kWaitSeconds = 5;
    // Longest stream-end delay armed (milliseconds); longer ranges are treated as this.
    static constexpr int64_t kMaxDelayMs = 1000000000000000;

    // Caller. Creates the scheduler, the environment and the packet buffer; state Idle.
    explicit CLiveClient(int32_t loginHandle);
    // Caller. Stops a Starting or Playing session, waits for its thread, closes the recording.
    virtual ~CLiveClient();
    CLiveClient(const CLiveClient&) = delete;
    CLiveClient& operator=(const CLiveClient&) = delete;

    // Caller. Starts the session on its own thread and waits until PLAY succeeded, the start
    // failed, or 5 seconds passed without an answer (which counts as started). Returns 0 on
    // success, 1 on failure (also when already started or the URL does not fit).
    int RealPlay(const char* url, int useTcp, int forceMulticast);
    // Caller. Ends a Starting or Playing session and waits for its thread; false otherwise.
    bool Stop();

    // Caller. Both wait for a running call of the callback they replace.
    void SetRealDataCallBack(RealDataCallBack fn, void* user);
    void SetPlayEndCallBack(RealPlayEndCallBack fn, void* user);
    void SetSoundOn(bool on) { m_bSoundOn = on; }
    bool SoundOn() const { return m_bSoundOn; }

    // Caller. Recording: StartSave returns 1 when the file was created, 0 otherwise (an open
    // recording is completed and closed first, except for a name that is refused: null or
    // longer than 255 characters). StopSave completes and closes; returns 1.
    int StartSave(const char* fileName);
    int StopSave();

    // Caller. Low 32 bits of the length (-3 while unknown) and of the current position (ms).
    int32_t GetVideoLength() const { return static_cast<int32_t>(m_nVideoLength.load()); }
    int32_t GetCurrentTime() const { return static_cast<int32_t>(m_nCurrentTime.load()); }
    // Caller. Asks the server to play from the position (ms); waits up to 5 seconds for the
    // reply. 1 when the server accepted it; 0 when out of range, refused or unanswered.
    int SeekAndPlay(int32_t position);

    int32_t LoginHandle() const { return m_nLoginHandle; }
    int32_t RealHandle() const { return m_nRealHandle; }
    void SetRealHandle(int32_t handle) { m_nRealHandle = handle; }
    State GetState() const { return static_cast<State>(m_nState.load()); }
    uint64_t VideoLength() const { return m_nVideoLength.load(); }
    uint64_t CurrentTime() const { return m_nCurrentTime.load(); }
    int32_t DataBufSize() const { return m_nDataBufSize; }
    kx::media::UsageEnvironment& Env() { return *m_pEnv; }

    // Session thread, called by the sinks.
    void RefreshLastData() { m_tvLastData = std::chrono::steady_clock::now(); }
    bool HasRealDataCallBack() const { return m_fnRealData.load() != nullptr; }
    // A video frame, packaged, recorded and delivered to the data callback. A frame marked
    // keyFrame may start a recording, which then writes the units of its stream's start
    // configuration (may be null) first, with this frame's presentation time.
    void InputVideoData(uint16_t dataType, uint16_t frameType, const uint8_t* frame, uint32_t n,
                        bool hasStartCode, uint32_t seconds, uint32_t microseconds,
                        bool keyFrame = false, const StreamStartConfig* startConfig = nullptr);
    void InputAudioData(uint32_t n, uint32_t channels, uint32_t sampleRate, uint16_t dataType,
                        const uint8_t* frame, uint32_t seconds, uint32_t microseconds);
    // The unpackaged payload: straight to the data callback.
    void DeliverRawData(uint32_t dataType, uint8_t* data, uint32_t n);
    // Play position from an H.264 or H.265 frame's presentation time.
    void UpdateCurrentTime(int64_t seconds, int64_t microseconds);
    // Writes a whole packaged frame to the recording file, from the first key frame on; the key
    // frame that starts the recording is preceded by the units of startConfig (may be null),
    // packaged with the presentation time given.
    void SaveRealData(const uint8_t* data, size_t size, bool keyFrame,
                      const StreamStartConfig* startConfig = nullptr, uint32_t seconds = 0,
                      uint32_t microseconds = 0);
    // Stream length from the SDP of a successful DESCRIBE.
    void ScanVideoLength(const char* sdp);

private:
    struct FileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };

    // Event-loop thread and start/seek results.
    void EventLoopThread();
    void WakeLoop();
    void ReportStartResult(int32_t result);
    void ReportSeekResult(uint32_t seekId, bool accepted);
    void AbandonSeeks(CRTSPClient* client);  // its unanswered seeks are refused
    void CloseRecordLocked();
    void WriteRecordLocked(const uint8_t* data, size_t size);
    void WriteStartConfigLocked(const StreamStartConfig& config, uint32_t seconds,
                                uint32_t microseconds);

    // RTSP conversation (session thread).
    static void ContinueAfterOPTIONS(kx::media::RTSPClient* client, int code, char* text);
    static void ContinueAfterDESCRIBE(kx::media::RTSPClient* client, int code, char* text);
    static void ContinueAfterSETUP(kx::media::RTSPClient* client, int code, char* text);
    static void ContinueAfterPLAY(kx::media::RTSPClient* client, int code, char* text);
    template <size_t Slot>
    static void ContinueAfterSeekPLAY(kx::media::RTSPClient* client, int code, char* text);
    void HandleSeekReply(CRTSPClient* client, size_t slot, int code);
    static kx::media::RTSPClient::responseHandler* SeekReplyHandler(size_t slot);
    static void SubsessionAfterPlaying(void* subsession);
    static void SubsessionByeHandler(void* subsession);
    static CLiveClient* SessionOf(kx::media::RTSPClient* client);
    // What the RTSP/RTP layer tells about the server, logged once per session.
    static void MediaNotice(void* session, kx::media::UsageEnvironment::Notice kind,
                            const char* text);
    void SetupNextSubsession(CRTSPClient* client);
    kx::media::MediaSink* CreateSink(kx::media::MediaSubsession& sub);
    void ShutdownStream(CRTSPClient* client);
    void SendOptions(CRTSPClient* client);

    // Keeping the session alive and ending it (session thread).
    static void HeartbeatTask(void* session);
    static void CheckDisconnectTask(void* session);
    static void StreamTimerHandler(void* client);
    static void ArmCheckAfterStartTask(void* session);
    static void SeekTask(void* session);
    void Heartbeat();
    void CheckDisconnect();
    void Reconnect();
    void ArmHeartbeat();
    void ArmDisconnectCheck();
    void ArmStreamEndTimer(CRTSPClient* client, int64_t delayMs);
    // A play range in seconds as milliseconds, fraction cut off, at most kMaxDelayMs.
    static int64_t RangeToMs(double seconds);

    bool EnsureDataBuf(size_t size, const char* caller);
    void DeliverPackaged(uint16_t dataType, uint32_t innerLength);

    std::mutex m_mtxStart;
    std::condition_variable m_condStart;
    kx::media::TaskToken m_pHeartbeatTask = nullptr;
    kx::media::TaskToken m_pDisconnectCheckTask = nullptr;
    kx::media::TaskToken m_pStreamEndTask = nullptr;
    bool m_bRecordStarted = false;
    std::chrono::steady_clock::time_point m_tvLastData{};  // last frame of any sink
    int32_t m_bTimeBaseSet = 0;
    std::atomic<uint64_t> m_nCurrentTime{0};
    int64_t m_nTimeBase = 0;  // may lie below 0 after a seek
    std::unique_ptr<kx::media::TaskScheduler> m_pScheduler;
    std::unique_ptr<kx::media::UsageEnvironment> m_pEnv;
    std::atomic<CRTSPClient*> m_pRtspClient{nullptr};
    std::atomic<RealDataCallBack> m_fnRealData{nullptr};
    void* m_pRealDataUser = nullptr;
    std::mutex m_mtxRealData;
    char m_szRecordFile[kRtspUrlSize] = {0};
    std::unique_ptr<FILE, FileCloser> m_pRecordFile;
    std::mutex m_mtxRecord;
    std::vector<uint8_t> m_vecRecordConfig;  // a packaged configuration unit being written
    std::atomic<bool> m_bSoundOn{true};
    char m_szUrl[kRtspUrlSize] = {0};
    int32_t m_nLoginHandle;
    std::atomic<int32_t> m_nRealHandle{0};
    int32_t m_bUseTcp = 0;
    int32_t m_bForceMulticast = 0;
    bool m_bSupportGetParameter = false;
    std::set<std::string> m_loggedNotices;  // session thread
    uint32_t m_nSessionTimeout = 60;
    std::thread m_hThread;
    std::atomic<char> m_cEventLoopWatch{0};
    std::atomic<int32_t> m_nState{Idle};
    std::atomic<int32_t> m_nStartResult{0};
    std::unique_ptr<uint8_t[]> m_pDataBuf;
    int32_t m_nDataBufSize = 0;
    std::atomic<uint64_t> m_nVideoLength{kUnknownLength};
    std::atomic<RealPlayEndCallBack> m_fnPlayEnd{nullptr};
    void* m_pPlayEndUser = nullptr;
    std::mutex m_mtxPlayEnd;

    // Start and seek answers, guarded by m_mtxStart.
    bool m_bStartAnswered = false;
    uint32_t m_nSeekId = 0;          // the seek being waited for
    uint32_t m_nSeekSentId = 0;      // the last seek SeekTask sent
    int32_t m_nSeekPosition = 0;     // its position, read by SeekTask
    uint32_t m_nSeekAnsweredId = 0;  // the last seek answered
    bool m_bSeekAccepted = false;    // that answer
};

}  // namespace kx::sdk
