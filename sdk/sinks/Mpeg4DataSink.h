// Mpeg4DataSink: MPEG-4 part 2 video; every frame is packaged with a start code in front and
// frame type 0. Keeps the stream's configuration headers (from the session description's
// "config" parameter or the stream, whichever came last) for recordings, which start at an
// intra-coded VOP.
#pragma once

#include "DataSink.h"
#include "StreamStartConfig.h"

namespace kx::sdk {

class Mpeg4DataSink : public DataSink {
public:
    // config: the subsession's hexadecimal "config" text (may be empty or null).
    static Mpeg4DataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                    const char* config = nullptr);

    const StreamStartConfig& StartConfig() const { return m_startConfig; }

protected:
    Mpeg4DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, const char* config);
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;

private:
    StreamStartConfig m_startConfig;
};

}  // namespace kx::sdk
