// MediaSink: pulls frames from a FramedSource. Subclasses implement continuePlaying(), which
// asks the source for the next frame.
#pragma once

#include "FramedSource.h"
#include "Medium.h"

namespace kx::media {

class MediaSink : public Medium {
public:
    using afterPlayingFunc = void(void* clientData);

    // Loop thread only. Starts reading from source; afterPlaying(clientData) is called when
    // the source closes. Returns false when the sink is already playing.
    bool startPlaying(FramedSource& source, afterPlayingFunc* afterPlaying, void* clientData);
    // Stops reading (a pending read is cancelled); the after-playing function is not called.
    void stopPlaying();

    FramedSource* source() const { return fSource; }

protected:
    explicit MediaSink(UsageEnvironment& env) : Medium(env) {}
    ~MediaSink() override;  // stops playing

    virtual bool continuePlaying() = 0;

    // For FramedSource::getNextFrame's onClose: ends playing and calls afterPlaying.
    static void onSourceClosure(void* clientData);

    FramedSource* fSource = nullptr;

private:
    afterPlayingFunc* m_afterPlaying = nullptr;
    void* m_afterPlayingClientData = nullptr;
};

}  // namespace kx::media
