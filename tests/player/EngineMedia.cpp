#include "EngineMedia.h"

#include <QFile>
#include <string>
#include <vector>

#include "H264Stream.h"
#include "PackagedFrame.h"
#include "TestMedia.h"

namespace EngineMedia {

using Brelso::Testing::Bytes;

namespace {

constexpr int kFps = 25;

std::string Narrow(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

bool MakeAvi(const QString& path, int seconds) {
    const std::string duration = std::to_string(seconds);
    return Brelso::Testing::runProgram(
        {"ffmpeg",       "-nostdin",
         "-hide_banner", "-loglevel",
         "error",        "-y",
         "-f",           "lavfi",
         "-i",           "testsrc=size=160x120:rate=25:duration=" + duration,
         "-f",           "lavfi",
         "-i",           "sine=frequency=440:sample_rate=8000:duration=" + duration,
         "-c:v",         "mjpeg",
         "-c:a",         "pcm_s16le",
         "-f",           "avi",
         Narrow(path)});
}

bool MakeQf(const QString& path, int seconds) {
    Brelso::Testing::TempDir folder;
    const std::string h264 = folder.file("video.h264");
    if (!Brelso::Testing::generateH264Stream(h264, seconds * kFps, kFps, kFps)) return false;
    const std::vector<Bytes> units = Brelso::Testing::splitAnnexB(Brelso::Testing::readFile(h264));

    QFile output(path);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    constexpr uint32_t kWallClockBase = 1700000000;
    int64_t nPicture = 0;  // pictures written so far: the presentation time
    bool bStarted = false;
    std::vector<uint8_t> buffer;
    for (const Bytes& unit : units) {
        const int nType = Brelso::Testing::nalType(unit);
        kx::frame::VideoFrameInfo info;
        info.dataType = KX_DATA_H264;
        info.hasStartCode = false;
        switch (nType) {
            case 7:
                info.frameType = KX_FRAME_SPS;
                break;
            case 8:
                info.frameType = KX_FRAME_PPS;
                break;
            case 5:
                info.frameType = KX_FRAME_IDR;
                break;
            case 1:
                info.frameType = KX_FRAME_NOSTART;
                break;
            default:
                continue;  // SEI and the like are not needed
        }
        // A recording starts with the parameter sets of its first key frame.
        if (!bStarted && nType != 7) continue;
        bStarted = true;
        const int64_t usec = nPicture * 1000000 / kFps;
        info.ptsSec = static_cast<uint32_t>(usec / 1000000);
        info.ptsUsec = static_cast<uint32_t>(usec % 1000000);
        if (info.frameType == KX_FRAME_IDR) info.wallClockSec = kWallClockBase + info.ptsSec;
        buffer.resize(kx::frame::packagedVideoSize(unit.size(), false));
        const size_t written = kx::frame::writeVideo(buffer.data(), info, unit.data(), unit.size());
        if (output.write(reinterpret_cast<const char*>(buffer.data()),
                         static_cast<qint64>(written)) != static_cast<qint64>(written)) {
            return false;
        }
        if (nType == 1 || nType == 5) ++nPicture;
    }
    return nPicture > 0 && output.flush();
}

QfContents ReadQf(const QString& path) {
    QfContents contents;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return contents;
    const QByteArray data = file.readAll();
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    size_t from = 0;
    while (auto found = kx::frame::scanNext(bytes, static_cast<size_t>(data.size()), from)) {
        ++contents.nFrames;
        if (kx::frame::isVideoDataType(found->frame.dataType)) ++contents.nVideoFrames;
        if ((found->frame.dataType == KX_DATA_H264 || found->frame.dataType == KX_DATA_H265) &&
            found->frame.frameType == KX_FRAME_IDR) {
            ++contents.nKeyFrames;
        }
        from = found->offset + found->size;
    }
    return contents;
}

bool IsJpeg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = file.readAll();
    return data.size() > 4 && static_cast<uint8_t>(data[0]) == 0xFF &&
           static_cast<uint8_t>(data[1]) == 0xD8 && static_cast<uint8_t>(data[2]) == 0xFF &&
           static_cast<uint8_t>(data[data.size() - 2]) == 0xFF &&
           static_cast<uint8_t>(data[data.size() - 1]) == 0xD9;
}

}  // namespace EngineMedia
