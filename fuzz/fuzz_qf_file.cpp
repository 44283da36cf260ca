// A ".qf" recording as the decode library opens and plays it: the scan for whole packaged
// frames, the index of key frames and times, every frame read (H.264 NAL units assembled into
// access units) and seeks to the middle, before the start and past the end.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "FuzzTempFile.h"
#include "QfFileReader.h"

using namespace kx::play;

namespace {

size_t readSome(QfFileReader& reader, size_t limit) {
    MediaPacket packet;
    size_t n = 0;
    while (n < limit && reader.read(packet)) {
        kx::fuzz::touch(packet.data, packet.size);
        ++n;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kx::fuzz::TempFile file(".qf");
    if (!file.write(data, size)) return 0;
    QfFileReader reader;
    if (!reader.open(file.path())) return 0;
    const QfTimeRange range = reader.timeRange();
    if (range.firstUs > range.lastUs) __builtin_trap();
    (void)reader.hasVideo();
    (void)reader.frameRate();
    readSome(reader, 100000);
    reader.seek(range.firstUs + (range.lastUs - range.firstUs) / 2);
    readSome(reader, 64);
    reader.seek(std::numeric_limits<int64_t>::min());
    readSome(reader, 64);
    reader.seek(std::numeric_limits<int64_t>::max());
    readSome(reader, 64);
    return 0;
}
