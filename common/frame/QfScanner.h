// Sequential reader of a ".qf" recording: whole packaged frames one after another, read
// through a sliding window so a file of any length needs at most two frames of memory.
// Damaged parts (cut frames, inserted bytes, a wrong length) are skipped up to the next whole
// frame; a caller sees them as a gap between one frame's end and the next frame's offset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PackagedFrame.h"

namespace kx::frame {

class QfScanner {
public:
    struct Frame {
        uint64_t offset = 0;  // of the packaged frame in the file
        uint64_t size = 0;    // of the whole packaged frame (L + 34)
        InnerFrame inner;     // points into the window: valid until the next call
    };

    bool open(const std::string& path);
    std::optional<Frame> next();
    bool seekTo(uint64_t offset);

    // Largest inner part accepted; the stream library never produces one above 4 MiB + 16.
    static constexpr size_t kMaxInner = 8u * 1024u * 1024u;

private:
    bool fill();

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_file;
    std::vector<uint8_t> m_buf;
    size_t m_begin = 0;
    size_t m_end = 0;
    uint64_t m_bufOffset = 0;  // file offset of m_buf[0]
    bool m_eof = false;
};

}  // namespace kx::frame
