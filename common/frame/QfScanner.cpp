#include "QfScanner.h"

#include <algorithm>
#include <cstring>

namespace kx::frame {
namespace {

constexpr size_t kReadChunk = 1u << 20;
constexpr size_t kMaxFrame = QfScanner::kMaxInner + KX_PKT_OVERHEAD;
constexpr size_t kMaxWindow = 2 * kMaxFrame;

}  // namespace

bool QfScanner::open(const std::string& path) {
    m_file.reset(std::fopen(path.c_str(), "rb"));
    if (!m_file) return false;
    m_buf.resize(kReadChunk);
    m_begin = m_end = 0;
    m_bufOffset = 0;
    m_eof = false;
    return true;
}

bool QfScanner::seekTo(uint64_t offset) {
    if (!m_file) return false;
    if (fseeko(m_file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    m_begin = m_end = 0;
    m_bufOffset = offset;
    m_eof = false;
    return true;
}

bool QfScanner::fill() {
    if (m_eof) return false;
    size_t avail = m_end - m_begin;
    if (avail >= kMaxWindow) {
        // No whole frame starts in the first part: it cannot be longer than kMaxFrame.
        const size_t drop = avail - kMaxFrame;
        m_begin += drop;
        avail -= drop;
    }
    if (m_begin > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_begin, avail);
        m_bufOffset += m_begin;
        m_begin = 0;
        m_end = avail;
    }
    if (m_buf.size() - m_end < kReadChunk / 2) {
        m_buf.resize(
            std::min(kMaxWindow + kReadChunk, std::max(m_buf.size() * 2, m_end + kReadChunk)));
    }
    const size_t got = std::fread(m_buf.data() + m_end, 1, m_buf.size() - m_end, m_file.get());
    if (got == 0) {
        m_eof = true;
        return false;
    }
    m_end += got;
    return true;
}

std::optional<QfScanner::Frame> QfScanner::next() {
    if (!m_file) return std::nullopt;
    for (;;) {
        const auto hit = scanNext(m_buf.data() + m_begin, m_end - m_begin, 0, kMaxInner);
        if (hit) {
            Frame f;
            f.offset = m_bufOffset + m_begin + hit->offset;
            f.size = hit->size;
            f.inner = hit->frame;
            m_begin += hit->offset + hit->size;
            return f;
        }
        if (!fill()) {
            m_begin = m_end;
            return std::nullopt;
        }
    }
}

}  // namespace kx::frame
