#include "BenchTable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace Brelso::Bench {

std::string BenchTable::render() const {
    std::vector<size_t> widths(m_header.size(), 0);
    const auto measure = [&](const std::vector<std::string>& row) {
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    };
    measure(m_header);
    for (const auto& row : m_rows) measure(row);
    std::string out;
    const auto emit = [&](const std::vector<std::string>& row) {
        out += "  ";
        for (size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < row.size() ? row[i] : "";
            const std::string pad(widths[i] - std::min(widths[i], cell.size()), ' ');
            out += i == 0 ? cell + pad : "  " + pad + cell;
        }
        out += "\n";
    };
    emit(m_header);
    size_t total = 0;
    for (size_t w : widths) total += w + 2;
    out += "  " + std::string(total - 2, '-') + "\n";
    for (const auto& row : m_rows) emit(row);
    return out;
}

std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof(buffer), pattern, args);
    va_end(args);
    return buffer;
}

}  // namespace Brelso::Bench
