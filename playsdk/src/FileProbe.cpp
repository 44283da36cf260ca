#include "FileProbe.h"

#include <cstdio>
#include <cstring>

#include "AviReader.h"
#include "QfFileReader.h"

namespace kx::play {
namespace {

int64_t floorSeconds(int64_t us) {
    return us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
}

}  // namespace

FileKind probeFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return FileKind::Missing;
    unsigned char head[12] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
        std::memcmp(head + 8, "AVI ", 4) == 0) {
        return FileKind::Avi;
    }
    return FileKind::Qf;
}

std::unique_ptr<MediaSource> openQf(const std::string& path) {
    auto reader = std::make_unique<QfFileReader>();
    if (!reader->open(path)) return nullptr;
    return reader;
}

std::unique_ptr<MediaSource> openAvi(const std::string& path) {
    auto reader = std::make_unique<AviReader>();
    if (!reader->open(path)) return nullptr;
    return reader;
}

bool qfFileTime(const std::string& path, int64_t& start, int64_t& end) {
    QfFileReader reader;
    if (!reader.open(path)) return false;
    const auto range = reader.timeRange();
    start = floorSeconds(range.firstUs);
    end = floorSeconds(range.lastUs);
    return true;
}

bool aviFileTime(const std::string& path, int64_t& start, int64_t& end) {
    AviReader reader;
    int64_t s = 0;
    int64_t e = 0;
    if (!reader.open(path) || !reader.timeRange(s, e)) return false;
    start = floorSeconds(s);
    end = floorSeconds(e);
    return true;
}

}  // namespace kx::play
