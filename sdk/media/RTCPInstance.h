// RTCPInstance: RTCP for one subsession. Sends receiver reports every few seconds (so that
// servers keep UDP sessions alive) and reports an RTCP BYE from an active sender.
#pragma once

#include "Medium.h"

namespace kx::media {

class RTCPInstance : public Medium {
public:
    using ByeHandler = void(void* clientData);

    // Sets (or clears, with null) the handler called on the loop thread when an RTCP BYE
    // arrives from a sender that has sent RTP (the active participants).
    virtual void setByeHandler(ByeHandler* handler, void* clientData) = 0;

protected:
    explicit RTCPInstance(UsageEnvironment& env) : Medium(env) {}
};

}  // namespace kx::media
