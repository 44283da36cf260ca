#include "RtspWireReader.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace kx::media {

namespace {

// Headers this client reads, as the RTSP standard spells them.
constexpr const char* kKnownHeaders[] = {
    "CSeq",      "Content-Length", "Content-Type", "Content-Base", "Content-Location", "Session",
    "Transport", "Range",          "RTP-Info",     "Public",       "WWW-Authenticate", "Scale"};
// Headers that may appear once only; a second one is ignored.
constexpr const char* kSingleHeaders[] = {"CSeq", "Content-Length", "Session", "Transport",
                                          "Content-Base"};

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(const std::string& text, bool& hadExtra) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isSpace(text[first])) ++first;
    while (last > first && isSpace(text[last - 1])) --last;
    if (first > 1 || last != text.size()) hadExtra = true;
    return text.substr(first, last - first);
}

bool isMethodChar(char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

bool parseDigits(const std::string& text, size_t maxDigits, unsigned long& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return true;
}

// Splits at runs of spaces; notes whether a run was longer than one space.
std::vector<std::string> words(const std::string& line, size_t maxWords, bool& extraSpaces) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < line.size()) {
        size_t start = pos;
        while (start < line.size() && isSpace(line[start])) ++start;
        if (start - pos > 1 || (pos == 0 && start > 0)) extraSpaces = true;
        if (start >= line.size()) {
            if (start > pos) extraSpaces = true;
            break;
        }
        if (out.size() + 1 == maxWords) {  // the last word takes the rest of the line
            std::string rest = line.substr(start);
            while (!rest.empty() && isSpace(rest.back())) {
                rest.pop_back();
                extraSpaces = true;
            }
            out.push_back(rest);
            break;
        }
        size_t end = start;
        while (end < line.size() && !isSpace(line[end])) ++end;
        out.push_back(line.substr(start, end - start));
        pos = end;
    }
    return out;
}

}  // namespace

const char* rtspDeviationText(unsigned deviation) {
    switch (deviation) {
        case kDeviationHeaderCase:
            return "header names in unusual case";
        case kDeviationBareLineFeed:
            return "lines ended without carriage return";
        case kDeviationExtraSpaces:
            return "extra spaces in header lines";
        case kDeviationFoldedHeader:
            return "header values folded onto several lines";
        case kDeviationBlankLines:
            return "empty lines between messages";
        case kDeviationNoCSeq:
            return "a reply without CSeq, taken as the answer to the request in flight";
        case kDeviationSessionParams:
            return "a Session header with unknown parameters, ignored";
        case kDeviationTransportOrder:
            return "Transport parameters in unusual order";
        case kDeviationStatusLine:
            return "a status line with extra spaces or without reason";
        case kDeviationDuplicateHeader:
            return "a header twice, the first value taken";
        default:
            return "an unusual reply";
    }
}

const std::string* RtspMessage::header(const char* name) const {
    for (const RtspHeader& h : headers) {
        if (strcasecmp(h.name.c_str(), name) == 0) return &h.value;
    }
    return nullptr;
}

std::vector<std::string> RtspMessage::values(const char* name) const {
    std::vector<std::string> out;
    for (const RtspHeader& h : headers) {
        if (strcasecmp(h.name.c_str(), name) == 0) out.push_back(h.value);
    }
    return out;
}

long RtspMessage::cseq() const {
    const std::string* text = header("CSeq");
    if (text == nullptr) return -1;
    // Leading digits only: "1, 1" (a doubled echo) still names request 1.
    size_t end = 0;
    while (end < text->size() && end < 10 && (*text)[end] >= '0' && (*text)[end] <= '9') ++end;
    unsigned long value = 0;
    if (!parseDigits(text->substr(0, end), 10, value) || value > 0x7FFFFFFFul) return -1;
    return static_cast<long>(value);
}

std::string RtspMessage::statusLine() const {
    std::string line = "RTSP/1.0 " + std::to_string(status);
    if (!reason.empty()) line += " " + reason;
    return line;
}

uint8_t* RtspWireReader::reserve(size_t want) {
    if (m_start > 0 && (m_start == m_end || m_start >= m_buffer.size() / 2)) {
        // Move the unfinished rest to the front rather than letting the buffer grow.
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_end -= m_start;
        m_start = 0;
    }
    if (m_buffer.size() - m_end < want) m_buffer.resize(m_end + want);
    return m_buffer.data() + m_end;
}

void RtspWireReader::commit(size_t n) {
    m_end = std::min(m_end + n, m_buffer.size());
}

bool RtspWireReader::feed(const uint8_t* data, size_t size, Handler& handler) {
    if (size > 0) {
        std::memcpy(reserve(size), data, size);
        commit(size);
    }
    return parse(handler);
}

bool RtspWireReader::fail(const std::string& why) {
    m_error = why;
    return false;
}

bool RtspWireReader::parse(Handler& handler) {
    if (!m_error.empty()) return false;
    for (;;) {
        switch (parseOne(handler)) {
            case Step::Done:
                continue;
            case Step::NeedMore:
                if (m_start == m_end) m_start = m_end = 0;
                return true;
            case Step::Failed:
                return false;
            case Step::Stopped:
                return false;
        }
    }
}

RtspWireReader::Step RtspWireReader::parseOne(Handler& handler) {
    size_t skipped = 0;
    while (m_start < m_end && (m_buffer[m_start] == '\r' || m_buffer[m_start] == '\n')) {
        ++m_start;
        ++skipped;
    }
    if (skipped > 0) m_deviations |= kDeviationBlankLines;
    if (m_start == m_end) return Step::NeedMore;
    if (m_buffer[m_start] == '$') {
        if (m_end - m_start < 4) return Step::NeedMore;
        const uint8_t* p = m_buffer.data() + m_start;
        const size_t length = (size_t(p[2]) << 8) | p[3];
        if (m_end - m_start < 4 + length) return Step::NeedMore;
        m_start += 4 + length;
        return handler.onInterleaved(p[1], p + 4, length) ? Step::Done : Step::Stopped;
    }
    return parseMessage(handler);
}

RtspWireReader::Step RtspWireReader::parseMessage(Handler& handler) {
    const char* begin = reinterpret_cast<const char*>(m_buffer.data() + m_start);
    const size_t held = m_end - m_start;
    // What is there must be able to start a reply or a request.
    const size_t prefix = std::min<size_t>(held, 5);
    const bool reply = std::memcmp(begin, "RTSP/", prefix) == 0;
    if (!reply) {
        size_t i = 0;
        while (i < held && isMethodChar(begin[i])) ++i;
        if (i == 0 || (i < held && begin[i] != ' ')) {
            fail("the server sent something that is not RTSP");
            return Step::Failed;
        }
    }
    // The head ends with an empty line.
    const size_t limit = std::min(held, kMaxHeadBytes);
    size_t headSize = 0;
    size_t headEnd = 0;
    for (const char* nl = static_cast<const char*>(std::memchr(begin, '\n', limit)); nl != nullptr;
         nl = static_cast<const char*>(std::memchr(nl + 1, '\n', limit - (nl + 1 - begin)))) {
        const size_t at = static_cast<size_t>(nl - begin) + 1;
        if (at < limit && begin[at] == '\n') {
            headSize = at;
            headEnd = at + 1;
            break;
        }
        if (at + 1 < limit && begin[at] == '\r' && begin[at + 1] == '\n') {
            headSize = at;
            headEnd = at + 2;
            break;
        }
        if (at >= limit) break;
    }
    if (headEnd == 0) {
        if (held >= kMaxHeadBytes) {
            fail("a reply head larger than " + std::to_string(kMaxHeadBytes) + " bytes");
            return Step::Failed;
        }
        return Step::NeedMore;
    }
    RtspMessage message;
    if (!parseHead(begin, headSize, message)) return Step::Failed;
    unsigned long bodySize = 0;
    const std::vector<std::string> lengths = message.values("Content-Length");
    if (!lengths.empty()) {
        bool extra = false;
        if (!parseDigits(trimmed(lengths[0], extra), 10, bodySize)) {
            fail("a bad Content-Length: " + lengths[0].substr(0, 32));
            return Step::Failed;
        }
        for (const std::string& other : lengths) {
            if (other != lengths[0]) {
                fail("Content-Length headers that disagree");
                return Step::Failed;
            }
        }
        if (bodySize > kMaxBodyBytes) {
            fail("a reply body of " + std::to_string(bodySize) + " bytes (at most " +
                 std::to_string(kMaxBodyBytes) + ")");
            return Step::Failed;
        }
    }
    if (held < headEnd + bodySize) return Step::NeedMore;
    message.body.assign(begin + headEnd, bodySize);
    m_start += headEnd + bodySize;
    return handler.onMessage(message) ? Step::Done : Step::Stopped;
}

bool RtspWireReader::parseHead(const char* head, size_t size, RtspMessage& message) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < size) {
        const char* nl = static_cast<const char*>(std::memchr(head + pos, '\n', size - pos));
        const size_t end = nl ? static_cast<size_t>(nl - head) : size;
        size_t lineEnd = end;
        if (lineEnd > pos && head[lineEnd - 1] == '\r') {
            --lineEnd;
        } else if (nl != nullptr) {
            m_deviations |= kDeviationBareLineFeed;
        }
        lines.emplace_back(head + pos, lineEnd - pos);
        pos = end + 1;
    }
    if (lines.empty()) return fail("an empty message head");

    bool extra = false;
    const std::string& first = lines[0];
    if (first.compare(0, 5, "RTSP/") == 0) {
        const std::vector<std::string> parts = words(first, 3, extra);
        unsigned long status = 0;
        if (parts.size() < 2 || !parseDigits(parts[1], 3, status) || status < 100) {
            return fail("a bad status line: " + first.substr(0, 64));
        }
        message.isReply = true;
        message.status = static_cast<int>(status);
        message.reason = parts.size() > 2 ? parts[2] : "";
        if (extra || parts.size() < 3) m_deviations |= kDeviationStatusLine;
    } else {
        const std::vector<std::string> parts = words(first, 3, extra);
        if (parts.size() != 3 || parts[2].compare(0, 5, "RTSP/") != 0) {
            return fail("the server sent something that is not RTSP");
        }
        message.isReply = false;
        message.method = parts[0];
        message.uri = parts[1];
    }

    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty()) continue;
        if (isSpace(line[0])) {  // a folded continuation of the previous value
            if (message.headers.empty()) continue;
            bool ignored = false;
            const std::string more = trimmed(line, ignored);
            if (!more.empty()) message.headers.back().value += " " + more;
            m_deviations |= kDeviationFoldedHeader;
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;  // not a header line: skipped
        bool spaced = false;
        std::string name = trimmed(line.substr(0, colon), spaced);
        if (name.size() != colon) spaced = true;
        std::string value = trimmed(line.substr(colon + 1), spaced);
        if (spaced) m_deviations |= kDeviationExtraSpaces;
        if (name.empty()) continue;
        for (const char* known : kKnownHeaders) {
            if (strcasecmp(name.c_str(), known) == 0 && name != known) {
                m_deviations |= kDeviationHeaderCase;
            }
        }
        for (const char* single : kSingleHeaders) {
            if (strcasecmp(name.c_str(), single) == 0 && message.header(single) != nullptr) {
                m_deviations |= kDeviationDuplicateHeader;
            }
        }
        message.headers.push_back(RtspHeader{std::move(name), std::move(value)});
    }
    return true;
}

}  // namespace kx::media
