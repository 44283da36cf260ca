// BenchTable: a plain text table with a header row and left-aligned first column, for the
// benchmark report.
#pragma once

#include <string>
#include <vector>

namespace Brelso::Bench {

class BenchTable {
public:
    explicit BenchTable(std::vector<std::string> header) : m_header(std::move(header)) {}
    void addRow(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    std::string render() const;

private:
    std::vector<std::string> m_header;
    std::vector<std::vector<std::string>> m_rows;
};

// printf-style formatting into a string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Brelso::Bench
