#include "MediaLaunch.h"

#include <gst/gst.h>

#include <algorithm>

namespace Brelso::Tools {

namespace {

std::string pay(int index) {
    return " name=pay" + std::to_string(index);
}

std::string rawCaps(int width, int height, int fps) {
    return "video/x-raw,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
           ",framerate=" + std::to_string(fps) + "/1";
}

// SMPTE colour bars, and over their lower part a band in which a ball moves to and fro.
std::string demoPicture(const VideoShape& shape) {
    const int band = std::max(shape.height / 4, 16);
    return "videotestsrc is-live=true pattern=smpte ! " +
           rawCaps(shape.width, shape.height, shape.fps) +
           " ! demomix.sink_0 videotestsrc is-live=true pattern=ball "
           "background-color=0x00000000 foreground-color=0xffffd700 ! " +
           rawCaps(shape.width, band, shape.fps) +
           ",format=AYUV ! demomix.sink_1 compositor name=demomix background=black "
           "sink_0::zorder=0 sink_1::zorder=1 sink_1::ypos=" +
           std::to_string(shape.height - band - shape.height / 12) + " ! " +
           rawCaps(shape.width, shape.height, shape.fps) +
           " ! videoconvert ! video/x-raw,format=I420";
}

std::string rawVideo(const VideoShape& shape) {
    std::string text = shape.demoPicture ? demoPicture(shape)
                                         : "videotestsrc is-live=true pattern=ball ! " +
                                               rawCaps(shape.width, shape.height, shape.fps);
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
    // One slice per picture for the demo: what most cameras send, and what every receiver
    // (ffmpeg included) decodes when it joins mid-stream.
    return rawVideo(shape) + " ! x264enc tune=zerolatency" +
           (shape.demoPicture ? " sliced-threads=false" : "") +
           " speed-preset=ultrafast bitrate=" + std::to_string(shape.bitrateKbps) +
           " key-int-max=" + std::to_string(shape.keyInterval) +
           " ! video/x-h264,profile=baseline ! rtph264pay pt=96 config-interval=-1" + pay(payIndex);
}

std::string h265Branch(int payIndex, const VideoShape& shape) {
    return rawVideo(shape) + " ! x265enc tune=zerolatency speed-preset=ultrafast bitrate=" +
           std::to_string(shape.bitrateKbps) + " key-int-max=" + std::to_string(shape.keyInterval) +
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
