// The H.264 parameter sets of a session description: "sprop-parameter-sets", Base64
// records separated by commas.
#pragma once

#include <cstdint>
#include <vector>

namespace kx::sdk {

// Number of comma-separated records in the text (0 for null or an empty text). Allocates
// nothing.
unsigned CountSPropRecords(const char* text);

// Decodes every record (GLib's Base64 decoder). An empty record decodes to no bytes.
std::vector<std::vector<uint8_t>> ParseSPropParameterSets(const char* text);

}  // namespace kx::sdk
