// H265RTPSource: RTP payload format for H.265 (RFC 7798). Each frame is one NAL unit without
// start code, with its two-byte header: single NAL unit packets as they are, aggregation
// packets split into their NAL units, fragmentation units joined. When the session
// description's sprop-max-don-diff is above 0 the packets carry decoding order numbers
// (DONL, DOND) and NAL units are handed on in decoding order. A NAL unit that is damaged (an
// aggregation packet whose lengths run past its end, fragments lost or without a start) is
// dropped and counted, never delivered damaged.
#pragma once

#include <string>
#include <vector>

#include "MultiFramedRTPSource.h"

namespace kx::media {

class H265RTPSource : public MultiFramedRTPSource {
public:
    // maxDonDiff: the session description's sprop-max-don-diff (0: no DONL/DOND fields).
    static H265RTPSource* createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                    unsigned clockRate = 90000, unsigned maxDonDiff = 0);

    // Packets or NAL units dropped as damaged so far, and why the last one was.
    uint64_t damagedCount() const { return m_damaged; }
    const char* lastDamage() const { return m_lastDamage; }

    // NAL units held back for decoding order (only with DONL/DOND).
    static constexpr size_t kMaxPendingNalUnits = 256;

protected:
    H265RTPSource(UsageEnvironment& env, unsigned char payloadFormat, unsigned clockRate,
                  unsigned maxDonDiff);

    void processPayload(const RtpHeader& header, bool lossBefore) override;
    void resetDepacketizer() override;

private:
    struct Pending {
        int64_t absDon = 0;
        std::vector<uint8_t> nal;
        struct timeval pts = {0, 0};
    };

    void damaged(const char* why);
    void handleAggregation(const uint8_t* p, size_t size, struct timeval pts);
    void handleFragment(const uint8_t* p, size_t size, const RtpHeader& header);
    void dropFragment();
    // One whole NAL unit (header + body, which may be apart in the packet).
    void deliver(const uint8_t* header, const uint8_t* body, size_t bodySize, uint16_t don,
                 struct timeval pts);
    void releaseInOrder(bool all);

    const bool m_withDon;
    const unsigned m_maxDonDiff;
    uint64_t m_damaged = 0;
    const char* m_lastDamage = "";

    bool m_inFragment = false;     // a fragmented NAL unit is being joined
    bool m_skipFragments = false;  // the rest of a NAL unit whose start was lost
    uint32_t m_fragmentTimestamp = 0;
    uint16_t m_fragmentDon = 0;
    std::vector<uint8_t> m_fragment;  // joined here when NAL units wait for decoding order

    bool m_haveDon = false;
    uint16_t m_lastDon = 0;
    int64_t m_lastAbsDon = 0;
    int64_t m_maxAbsDon = 0;
    std::vector<Pending> m_pending;  // sorted by absDon, arrival order among equals
};

}  // namespace kx::media
