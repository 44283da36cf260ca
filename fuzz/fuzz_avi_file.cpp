// An AVI file as the decode library opens and plays it: libavformat's AVI reading behind
// AviReader, its time range and frame rate, every packet read, a seek to the middle. The
// input always starts as an AVI file claims to ("RIFF", size, "AVI "): the first twelve bytes
// are set so, keeping the size field, so the fuzzing stays on the AVI path (and no other
// format's reader, such as a playlist's, ever opens anything else).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "AviReader.h"
#include "FuzzTempFile.h"

using namespace kx::play;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kx::fuzz::TempFile file(".avi");
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() < 12) bytes.resize(12);
    std::memcpy(bytes.data(), "RIFF", 4);
    std::memcpy(bytes.data() + 8, "AVI ", 4);
    if (!file.write(bytes.data(), bytes.size())) return 0;
    AviReader reader;
    if (!reader.open(file.path())) return 0;
    int64_t startUs = 0;
    int64_t endUs = 0;
    (void)reader.timeRange(startUs, endUs);
    if (reader.frameRate() < 0) __builtin_trap();
    (void)reader.hasVideo();
    MediaPacket packet;
    for (int i = 0; i < 2000 && reader.read(packet); ++i) kx::fuzz::touch(packet.data, packet.size);
    const auto middle = static_cast<int64_t>((static_cast<__int128>(startUs) + endUs) / 2);
    if (reader.seek(middle)) {
        for (int i = 0; i < 64 && reader.read(packet); ++i) {
            kx::fuzz::touch(packet.data, packet.size);
        }
    }
    return 0;
}
