#include "FrameCounter.h"

#include "FrameTag.h"
#include "KXPackagedFrame.h"

namespace Brelso::Bench {

namespace {

constexpr int kSliceNal = 1;
constexpr int kIdrNal = 5;
constexpr int kSeiNal = 6;

}  // namespace

void FrameCounter::markFirst(bool key) {
    if (m_sawData && (m_sawKey || !key)) return;
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    if (!m_sawData) {
        m_sawData = true;
        m_firstData = now;
    }
    if (key && !m_sawKey) {
        m_sawKey = true;
        m_firstKey = now;
    }
    m_changed.notify_all();
}

void FrameCounter::onData(uint32_t dataType, const uint8_t* inner, uint32_t size) {
    if (dataType == KX_DATA_H265 && size > KX_INNER_OFF_PAYLOAD) {
        // H.265 carries no frame tags: data and key frames are seen, pictures not counted.
        m_bytes += size;
        markFirst((inner[KX_INNER_OFF_FRAME_TYPE] | (inner[KX_INNER_OFF_FRAME_TYPE + 1] << 8)) ==
                  KX_FRAME_IDR);
        return;
    }
    if (dataType != KX_DATA_H264 || size <= KX_INNER_OFF_PAYLOAD) return;
    m_bytes += size;
    const uint8_t* nal = nullptr;
    const int type = nalTypeOf(inner + KX_INNER_OFF_PAYLOAD, size - KX_INNER_OFF_PAYLOAD, &nal);
    markFirst(type == kIdrNal);
    if (type == kSeiNal) {
        const size_t nalSize = static_cast<size_t>(inner + size - nal);
        if (const auto tag = readFrameTag(nal, nalSize)) {
            if (!m_haveTag) {
                m_haveTag = true;
                m_firstTag = *tag;
            }
            m_currentTag = *tag;
            m_currentCounted = false;
        }
        return;
    }
    // A picture counts once (the first slice of it), and only after its tag.
    if ((type == kSliceNal || type == kIdrNal) && m_haveTag && !m_currentCounted) {
        m_currentCounted = true;
        m_haveFirst = true;
        m_lastPicture = m_currentTag;
        ++m_delivered;
    }
}

bool FrameCounter::waitFirstData(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_sawData; });
}

bool FrameCounter::waitFirstKey(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_sawKey; });
}

}  // namespace Brelso::Bench
