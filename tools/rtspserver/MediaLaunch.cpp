#include "MediaLaunch.h"

#include <gst/gst.h>

namespace Brelso::Tools {

namespace {

std::string pay(int index) {
    return " name=pay" + std::to_string(index);
}

std::string rawVideo(const VideoShape& shape) {
    std::string text = "videotestsrc is-live=true pattern=ball ! video/x-raw,width=" +
                       std::to_string(shape.width) + ",height=" + std::to_string(shape.height) +
                       ",framerate=" + std::to_string(shape.fps) + "/1";
    if (shape.clockOverlay && hasElement("clockoverlay")) {
        text += " ! clockoverlay shaded-background=true time-format=\"%Y-%m-%d %H:%M:%S\"";
    }
    return text;
}

std::string sineAudio(int rate, int channels, int samplesPerBuffer) {
    return "audiotestsrc is-live=true wave=sine freq=440 volume=0.3 samplesperbuffer=" +
           std::to_string(samplesPerBuffer) + " ! audio/x-raw,rate=" + std::to_string(rate) +
           ",channels=" + std::to_string(channels);
}

}  // namespace

std::string h264Branch(int payIndex, const VideoShape& shape) {
    return rawVideo(shape) +
           " ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=300 key-int-max=" +
           std::to_string(shape.keyInterval) +
           " ! video/x-h264,profile=baseline ! rtph264pay pt=96 config-interval=-1" + pay(payIndex);
}

std::string h265Branch(int payIndex, const VideoShape& shape, int bitrateKbit) {
    return rawVideo(shape) + " ! x265enc tune=zerolatency speed-preset=ultrafast bitrate=" +
           std::to_string(bitrateKbit) + " key-int-max=" + std::to_string(shape.keyInterval) +
           " ! video/x-h265,profile=main ! rtph265pay pt=96 config-interval=-1 "
           "aggregate-mode=zero-latency" +
           pay(payIndex);
}

std::string pcmuBranch(int payIndex) {
    return sineAudio(8000, 1, 160) + " ! mulawenc ! rtppcmupay pt=0" + pay(payIndex);
}

std::string pcmaBranch(int payIndex) {
    return sineAudio(8000, 1, 160) + " ! alawenc ! rtppcmapay pt=8" + pay(payIndex);
}

std::string aacBranch(int payIndex, int sampleRate, int channels) {
    return sineAudio(sampleRate, channels, 1024) + " ! voaacenc bitrate=64000 ! rtpmp4gpay pt=97" +
           pay(payIndex);
}

std::string mediaLaunch(const std::vector<std::string>& branches) {
    std::string text = "(";
    for (const auto& branch : branches) text += " " + branch;
    return text + " )";
}

bool hasElement(const char* factoryName) {
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (!factory) return false;
    gst_object_unref(factory);
    return true;
}

}  // namespace Brelso::Tools
