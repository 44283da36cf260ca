#include "DataSink.h"

#include <new>

namespace kx::sdk {

DataSink::DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient)
    : MediaSink(env),
      m_pLiveClient(liveClient),
      m_pBuffer(new (std::nothrow) uint8_t[kBufferSize]) {}

DataSink::~DataSink() {
    stopPlaying();
}

void DataSink::Close(DataSink* sink) {
    kx::media::Medium::close(sink);
}

bool DataSink::continuePlaying() {
    if (fSource == nullptr) return false;
    fSource->getNextFrame(m_pBuffer.get(), m_nBufferSize, &DataSink::afterGettingFrame, this,
                          &MediaSink::onSourceClosure, this);
    return true;
}

void DataSink::afterGettingFrame(void* clientData, unsigned frameSize, unsigned,
                                 struct timeval presentationTime, unsigned) {
    auto* sink = static_cast<DataSink*>(clientData);
    sink->afterGettingFrame1(frameSize, presentationTime.tv_sec, presentationTime.tv_usec);
    sink->continuePlaying();
}

}  // namespace kx::sdk
