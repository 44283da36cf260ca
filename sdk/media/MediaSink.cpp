#include "MediaSink.h"

namespace kx::media {

MediaSink::~MediaSink() {
    stopPlaying();
}

bool MediaSink::startPlaying(FramedSource& source, afterPlayingFunc* afterPlaying,
                             void* clientData) {
    if (fSource != nullptr) return false;
    fSource = &source;
    m_afterPlaying = afterPlaying;
    m_afterPlayingClientData = clientData;
    return continuePlaying();
}

void MediaSink::stopPlaying() {
    if (fSource != nullptr) fSource->stopGettingFrames();
    fSource = nullptr;
    m_afterPlaying = nullptr;
    m_afterPlayingClientData = nullptr;
}

void MediaSink::onSourceClosure(void* clientData) {
    auto* sink = static_cast<MediaSink*>(clientData);
    afterPlayingFunc* fn = sink->m_afterPlaying;
    void* data = sink->m_afterPlayingClientData;
    sink->fSource = nullptr;
    sink->m_afterPlaying = nullptr;
    sink->m_afterPlayingClientData = nullptr;
    if (fn != nullptr) fn(data);
}

}  // namespace kx::media
