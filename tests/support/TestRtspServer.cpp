#include "TestRtspServer.h"

namespace Brelso::Testing {

using namespace Tools;

TestRtspServer::TestRtspServer(RtspServerConfig config) : LocalRtspServer(std::move(config)) {}

void TestRtspServer::addLiveMounts(unsigned transports) {
    addMount({kH264Pcmu, mediaLaunch({h264Branch(0), pcmuBranch(1)}), transports});
    addMount({kH264Aac, mediaLaunch({h264Branch(0), aacBranch(1, kAacSampleRate, kAacChannels)}),
              transports});
    addMount({kPcma, mediaLaunch({pcmaBranch(0)}), transports});
    addMount({kH264, mediaLaunch({h264Branch(0)}), transports});
    if (hasElement("x265enc") && hasElement("rtph265pay")) {
        addMount({kH265Pcmu, mediaLaunch({h265Branch(0), pcmuBranch(1)}), transports});
    }
}

void TestRtspServer::addRecordedMount(const std::string& path, const std::string& mp4File) {
    addMount(
        {path, "( filesrc location=\"" + mp4File +
                   "\" ! qtdemux name=d d.video_0 ! queue ! h264parse ! rtph264pay name=pay0 pt=96 "
                   "d.audio_0 ! queue ! aacparse ! rtpmp4gpay name=pay1 pt=97 )"});
}

void TestRtspServer::addMpeg4FileMount(const std::string& path, const std::string& mp4File) {
    addMount({path, "( filesrc location=\"" + mp4File +
                        "\" ! qtdemux ! mpeg4videoparse ! rtpmp4vpay name=pay0 pt=96 "
                        "config-interval=-1 )"});
}

void TestRtspServer::addH264FileMount(const std::string& path, const std::string& mp4File) {
    addMount({path, "( filesrc location=\"" + mp4File +
                        "\" ! qtdemux ! h264parse ! rtph264pay name=pay0 pt=96 )"});
}

void TestRtspServer::addH265FileMount(const std::string& path, const std::string& mp4File) {
    addMount({path, "( filesrc location=\"" + mp4File +
                        "\" ! qtdemux ! h265parse ! rtph265pay name=pay0 pt=96 mtu=600 "
                        "config-interval=-1 aggregate-mode=zero-latency )"});
}

}  // namespace Brelso::Testing
