// What an RTSP server sends, read by the client's own code: the wire reader cuts the bytes
// (fed in chunks whose size comes from the input, as reads split them) into "$" frames and
// messages, and every reply goes through the header readers the client uses for it: CSeq,
// Session, Transport, Range, the authentication challenge and the answer built from it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "NptRange.h"
#include "RtspRequest.h"
#include "RtspTransport.h"
#include "RtspUrlUtil.h"
#include "RtspWireReader.h"

namespace {

using namespace kx::media;

struct Reader final : RtspWireReader::Handler {
    bool onInterleaved(uint8_t, const uint8_t* data, size_t size) override {
        volatile uint8_t sink = size > 0 ? data[size - 1] : 0;
        (void)sink;
        return true;
    }
    bool onMessage(RtspMessage& message) override {
        (void)message.cseq();
        (void)message.statusLine();
        if (const std::string* session = message.header("Session")) {
            std::string id;
            unsigned timeout = 0;
            bool unknown = false;
            (void)parseSessionHeader(session->c_str(), id, timeout, &unknown);
        }
        if (const std::string* transport = message.header("Transport")) {
            RtspTransport t;
            unsigned deviations = 0;
            (void)parseTransport(*transport, t, &deviations);
        }
        if (const std::string* range = message.header("Range")) {
            NptRange r;
            (void)r.parse(range->c_str());
        }
        if (message.status == 401) {
            RtspAuthenticator auth;
            if (auth.takeChallenge(message.values("WWW-Authenticate"), "user", "pass")) {
                RtspRequest request;
                request.method = "DESCRIBE";
                request.uri = "rtsp://127.0.0.1/s";
                request.cseq = 2;
                (void)request.serialize(auth.authorization(request.method, request.uri));
            }
        }
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The last byte also chooses the read size (1..256 bytes per read).
    const size_t chunk = size_t(data[size - 1]) + 1;
    RtspWireReader reader;
    Reader handler;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        if (!reader.feed(data + at, n, handler)) break;
    }
    return 0;
}
