#include "StreamStartConfig.h"

namespace kx::sdk {

bool StreamStartConfig::Set(size_t slot, uint16_t dataType, uint16_t frameType,
                            const uint8_t* bytes, size_t size) noexcept {
    if (slot >= kSlots || bytes == nullptr || size == 0 || size > kMaxUnitBytes) return false;
    Unit& unit = m_units[slot];
    try {
        unit.bytes.assign(bytes, bytes + size);
    } catch (...) {
        unit.bytes.clear();
        return false;
    }
    unit.dataType = dataType;
    unit.frameType = frameType;
    return true;
}

bool StreamStartConfig::Empty() const {
    for (const Unit& unit : m_units) {
        if (!unit.bytes.empty()) return false;
    }
    return true;
}

}  // namespace kx::sdk
