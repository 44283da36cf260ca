// A session description into a MediaSession: every subsession is set up (sources, RTCP,
// codec parameters such as sprop-parameter-sets and the AAC configuration) and closed again;
// the H.264 parameter sets are decoded as the session engine decodes them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "H264RTPSource.h"
#include "MediaSession.h"
#include "SPropParameterSets.h"
#include "UsageEnvironment.h"

using namespace kx::media;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TaskScheduler scheduler;
    static UsageEnvironment env(scheduler);
    const std::string text(reinterpret_cast<const char*>(data), size);
    MediaSession* session = MediaSession::createNew(env, text.c_str());
    if (session == nullptr) return 0;
    (void)session->playStartTime();
    (void)session->playEndTime();
    for (auto& sub : session->subsessions()) {
        (void)sub->codecName();
        // What the H.264 sink does with the parameter sets.
        const char* sprop = sub->fmtp_spropparametersets();
        (void)kx::sdk::CountSPropRecords(sprop);
        (void)kx::sdk::ParseSPropParameterSets(sprop);
        unsigned records = 0;
        delete[] parseSPropParameterSets(sprop, records);
        (void)sub->fmtp_mode();
        (void)sub->numChannels();
        (void)sub->rtpTimestampFrequency();
        if (sub->initiate()) sub->deInitiate();
    }
    Medium::close(session);
    return 0;
}
