#include "SPropParameterSets.h"

#include <glib.h>

#include <cstring>
#include <string>

namespace kx::sdk {

unsigned CountSPropRecords(const char* text) {
    if (text == nullptr || text[0] == '\0') return 0;
    unsigned count = 1;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == ',') ++count;
    }
    return count;
}

std::vector<std::vector<uint8_t>> ParseSPropParameterSets(const char* text) {
    std::vector<std::vector<uint8_t>> records;
    if (text == nullptr || text[0] == '\0') return records;
    const char* p = text;
    while (true) {
        const char* comma = std::strchr(p, ',');
        const std::string piece(p, comma == nullptr ? std::strlen(p) : size_t(comma - p));
        std::vector<uint8_t> record;
        if (!piece.empty()) {
            gsize size = 0;
            guchar* bytes = g_base64_decode(piece.c_str(), &size);
            if (bytes != nullptr) record.assign(bytes, bytes + size);
            g_free(bytes);
        }
        records.push_back(std::move(record));
        if (comma == nullptr) break;
        p = comma + 1;
    }
    return records;
}

}  // namespace kx::sdk
