#include "SdpLength.h"

#include <cstring>

namespace kx::sdk {
namespace {

constexpr int kMaxIntegerDigits = 12;          // seconds; keeps every sum far from 64-bit overflow
constexpr int64_t kMaxSeconds = 999999999999;  // the most 12 digits of seconds can say

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

const char* skipSpace(const char* p) {
    while (isSpace(*p)) ++p;
    return p;
}

// Reads decimal digits into value; returns how many were read (0 to kMaxIntegerDigits + 1).
int readDigits(const char*& p, int64_t& value) {
    int count = 0;
    value = 0;
    while (isDigit(*p)) {
        if (count <= kMaxIntegerDigits) value = value * 10 + (*p - '0');
        ++count;
        ++p;
    }
    return count;
}

// An optional "." and fraction digits, as microseconds (further digits are cut off).
int64_t readFraction(const char*& p) {
    if (*p != '.') return 0;
    ++p;
    int64_t micros = 0;
    int64_t scale = 100000;
    while (isDigit(*p)) {
        micros += (*p - '0') * scale;
        scale /= 10;
        ++p;
    }
    return micros;
}

// Reads one time value (leading white space skipped) into microseconds. With npt, "now"
// (read as 0) and hh:mm:ss[.frac] are accepted as well as seconds[.frac].
bool readTime(const char*& p, bool npt, int64_t& micros) {
    const char* q = skipSpace(p);
    if (npt && std::strncmp(q, "now", 3) == 0) {
        micros = 0;
        p = q + 3;
        return true;
    }
    int64_t first = 0;
    const int digits = readDigits(q, first);
    if (digits == 0) {
        if (*q != '.' || !isDigit(q[1])) return false;
    }
    if (digits > kMaxIntegerDigits) return false;
    int64_t seconds = first;
    if (npt && digits > 0 && *q == ':') {
        ++q;
        int64_t minutes = 0;
        int64_t secs = 0;
        if (readDigits(q, minutes) == 0 || minutes >= 60 || *q != ':') return false;
        ++q;
        if (readDigits(q, secs) == 0 || secs >= 60) return false;
        seconds = first * 3600 + minutes * 60 + secs;
        // Hours of up to 12 digits would overflow the microseconds below.
        if (seconds > kMaxSeconds) return false;
    }
    micros = seconds * 1000000 + readFraction(q);
    p = q;
    return true;
}

bool skipLiteral(const char*& p, const char* literal) {
    const size_t n = std::strlen(literal);
    if (std::strncmp(p, literal, n) != 0) return false;
    p += n;
    return true;
}

// Length from the values converted: two give end - start, one gives 0 (open range).
std::optional<uint64_t> lengthOf(int converted, int64_t start, int64_t end) {
    if (converted == 1) return 0;
    if (converted != 2 || end < start) return std::nullopt;
    return static_cast<uint64_t>(end - start);
}

// "t=<start> <stop>"; returns how many values were converted.
int scanTimeLine(const char* p, int64_t& start, int64_t& end) {
    if (!skipLiteral(p, "t=")) return 0;
    if (!readTime(p, false, start)) return 0;
    p = skipSpace(p);
    return readTime(p, false, end) ? 2 : 1;
}

// "a=range: npt = <start> - <end>", also "-<end>"; returns how many values were converted.
int scanRangeLine(const char* p, int64_t& start, int64_t& end) {
    if (!skipLiteral(p, "a=range:")) return 0;
    p = skipSpace(p);
    if (!skipLiteral(p, "npt")) return 0;
    p = skipSpace(p);
    if (!skipLiteral(p, "=")) return 0;
    p = skipSpace(p);
    if (*p == '-') {  // no start: the range runs from the beginning
        ++p;
        start = 0;
        return readTime(p, true, end) ? 2 : 0;
    }
    if (!readTime(p, true, start)) return 0;
    p = skipSpace(p);
    if (!skipLiteral(p, "-")) return 1;
    return readTime(p, true, end) ? 2 : 1;
}

bool isWellFormed(const char* line) {
    if (line[0] == '\r' || line[0] == '\n') return true;
    return line[0] >= 'a' && line[0] <= 'z' && line[1] == '=';
}

const char* nextLine(const char* line) {
    const char* end = line + std::strcspn(line, "\r\n");
    if (*end == '\0') return nullptr;
    while (*end == '\r' || *end == '\n') ++end;
    return *end == '\0' ? nullptr : end;
}

}  // namespace

std::optional<uint64_t> ParseRangeLine(const char* line) {
    if (line == nullptr) return std::nullopt;
    int64_t start = 0;
    int64_t end = 0;
    int converted = scanTimeLine(line, start, end);
    if (converted == 0) {
        start = end = 0;
        converted = scanRangeLine(line, start, end);
    }
    return lengthOf(converted, start, end);
}

void ScanSdpVideoLength(const char* sdp, uint64_t& lengthMs) {
    if (sdp == nullptr || !isWellFormed(sdp)) return;
    for (const char* line = nextLine(sdp); line != nullptr && isWellFormed(line);
         line = nextLine(line)) {
        const std::optional<uint64_t> micros = ParseRangeLine(line);
        if (!micros) continue;
        lengthMs = *micros / 1000;
        if (*micros > 0) return;
    }
}

}  // namespace kx::sdk
