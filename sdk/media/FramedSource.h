// FramedSource: hands on one frame per read into a buffer given by the reader (a sink).
#pragma once

#include <sys/time.h>

#include <cstdint>

#include "Medium.h"

namespace kx::media {

class FramedSource : public Medium {
public:
    // Called on the loop thread with the frame in the reader's buffer. A frame longer than
    // maxSize is cut to maxSize and numTruncatedBytes tells how much was lost.
    // presentationTime is wall-clock form (seconds and microseconds since 1970).
    using afterGettingFunc = void(void* clientData, unsigned frameSize, unsigned numTruncatedBytes,
                                  struct timeval presentationTime, unsigned durationInMicroseconds);
    // Called on the loop thread when the source has closed (no more frames will come).
    using onCloseFunc = void(void* clientData);

    // Loop thread only. Asks for the next frame. Exactly one of the two functions is called
    // later (never from inside this call): afterGetting when a frame has been copied into
    // `to`, or onClose when the source closed. One read may be pending at a time.
    void getNextFrame(uint8_t* to, unsigned maxSize, afterGettingFunc* afterGetting,
                      void* afterGettingClientData, onCloseFunc* onClose, void* onCloseClientData);

    // Cancels a pending read: neither function will be called for it.
    void stopGettingFrames();

    bool isCurrentlyAwaitingData() const { return m_isCurrentlyAwaitingData; }

protected:
    explicit FramedSource(UsageEnvironment& env) : Medium(env) {}
    ~FramedSource() override;

    // Subclass: start delivering into fTo/fMaxSize; when a frame is ready fill fFrameSize,
    // fNumTruncatedBytes, fPresentationTime, fDurationInMicroseconds and call afterGetting().
    virtual void doGetNextFrame() = 0;
    virtual void doStopGettingFrames() {}
    // Subclass: deliver the frame now described by the f* fields. Must be called from a loop
    // handler, never from inside doGetNextFrame's caller getNextFrame.
    void afterGetting();
    // Subclass: the source has closed.
    void handleClosure();

    uint8_t* fTo = nullptr;
    unsigned fMaxSize = 0;
    unsigned fFrameSize = 0;
    unsigned fNumTruncatedBytes = 0;
    struct timeval fPresentationTime = {0, 0};
    unsigned fDurationInMicroseconds = 0;

private:
    afterGettingFunc* m_afterGetting = nullptr;
    void* m_afterGettingClientData = nullptr;
    onCloseFunc* m_onClose = nullptr;
    void* m_onCloseClientData = nullptr;
    bool m_isCurrentlyAwaitingData = false;
};

}  // namespace kx::media
