#include "AccessUnits.h"

#include <fstream>
#include <iterator>

namespace Brelso::Bench {

namespace {

// Positions of every 00 00 01 start code (a preceding zero byte belongs to the code).
std::vector<size_t> startCodes(const std::vector<uint8_t>& data) {
    std::vector<size_t> positions;
    for (size_t i = 0; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            positions.push_back(i > 0 && data[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    }
    return positions;
}

size_t headerOffset(const std::vector<uint8_t>& data, size_t code) {
    return data[code + 2] == 1 ? code + 3 : code + 4;
}

}  // namespace

std::vector<AccessUnit> readAccessUnits(const std::string& path, bool hevc) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    const auto codes = startCodes(data);
    std::vector<AccessUnit> units;
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t begin = codes[k];
        const size_t end = k + 1 < codes.size() ? codes[k + 1] : data.size();
        const size_t header = headerOffset(data, begin);
        if (header >= data.size()) break;
        const int type = hevc ? (data[header] >> 1) & 0x3f : data[header] & 0x1f;
        if (type == (hevc ? 35 : 9)) {
            units.emplace_back();
        } else if (units.empty()) {
            continue;  // bytes before the first delimiter
        }
        auto& unit = units.back();
        unit.bytes.insert(unit.bytes.end(), data.begin() + static_cast<long>(begin),
                          data.begin() + static_cast<long>(end));
        if (hevc ? (type >= 16 && type <= 21) : type == 5) unit.key = true;
    }
    return units;
}

}  // namespace Brelso::Bench
