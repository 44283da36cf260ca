// The length scan of a session description and the range-line reader it uses.
#include <cstddef>
#include <cstdint>
#include <string>

#include "SdpLength.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
    uint64_t lengthMs = 0xFFFFFFFFFFFFFFFDull;
    kx::sdk::ScanSdpVideoLength(text.c_str(), lengthMs);
    (void)kx::sdk::ParseRangeLine(text.c_str());
    return 0;
}
