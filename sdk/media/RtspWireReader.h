// RtspWireReader: cuts what an RTSP server sends on its TCP connection into interleaved "$"
// frames (RTP and RTCP on a channel) and RTSP messages (replies, and requests the server makes
// of the client). The connection reads large chunks straight into the reader's buffer; the
// reader hands on every complete unit and keeps the rest for the next read.
//
// Strict limits (a head of at most 64 KiB, a body of at most 4 MiB), tolerant reading within
// them: header names in any case, lines ended by a bare LF, spaces around names, values and
// status fields, folded header lines, empty lines between messages, a missing Content-Length
// (no body). Each tolerated departure from the usual form is noted in deviations().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx::media {

// The departures from the usual form a reader tolerates, one bit each.
enum RtspDeviation : unsigned {
    kDeviationHeaderCase = 1u << 0,       // a known header name in another case ("cseq")
    kDeviationBareLineFeed = 1u << 1,     // lines ended by LF alone
    kDeviationExtraSpaces = 1u << 2,      // spaces around a header name or several before a value
    kDeviationFoldedHeader = 1u << 3,     // a header value continued on the next line
    kDeviationBlankLines = 1u << 4,       // empty lines between messages
    kDeviationNoCSeq = 1u << 5,           // a reply without CSeq (taken for the request in flight)
    kDeviationSessionParams = 1u << 6,    // Session parameters other than timeout
    kDeviationTransportOrder = 1u << 7,   // Transport parameters before the transport protocol
    kDeviationStatusLine = 1u << 8,       // several spaces in the status line, or no reason
    kDeviationDuplicateHeader = 1u << 9,  // the same single-valued header twice (first taken)
};
// A short text for one deviation bit, as it is logged ("reply without CSeq").
const char* rtspDeviationText(unsigned deviation);

struct RtspHeader {
    std::string name;
    std::string value;
};

// One RTSP message as received.
struct RtspMessage {
    bool isReply = true;
    int status = 0;      // reply: the status code
    std::string reason;  // reply: the reason phrase (may be empty)
    std::string method;  // request from the server: the method and URI
    std::string uri;
    std::vector<RtspHeader> headers;  // in the order received
    std::string body;

    // The first value of the header (case-insensitive name), or null.
    const std::string* header(const char* name) const;
    // Every value of the header, comma-separated values of one line kept together.
    std::vector<std::string> values(const char* name) const;
    // The CSeq number, or -1 when missing or not a number.
    long cseq() const;
    // "RTSP/1.0 461 Unsupported Transport" for a reply.
    std::string statusLine() const;
};

class RtspWireReader {
public:
    static constexpr size_t kMaxHeadBytes = 64 * 1024;
    static constexpr size_t kMaxBodyBytes = 4u << 20;

    class Handler {
    public:
        // One "$" frame; the bytes are valid during the call only.
        // Both return false to stop reading (the reader's owner went away or the connection
        // ended): parse() then returns at once without touching the reader again.
        virtual bool onInterleaved(uint8_t channel, const uint8_t* data, size_t size) = 0;
        // One message; the handler may move from it.
        virtual bool onMessage(RtspMessage& message) = 0;

    protected:
        ~Handler() = default;
    };

    // Space for the next read: at least `want` writable bytes at the end of what is held.
    uint8_t* reserve(size_t want);
    // The read put n bytes where reserve() pointed.
    void commit(size_t n);
    // Hands on every complete unit held. False when the bytes cannot be RTSP (the error
    // text says why); the connection is then unusable. Also false when a handler asked to
    // stop (error() is then empty).
    bool parse(Handler& handler);
    // reserve + copy + commit + parse, for bytes already in memory.
    bool feed(const uint8_t* data, size_t size, Handler& handler);

    const std::string& error() const { return m_error; }
    // Deviations seen so far (RtspDeviation bits); the caller may clear bits it has reported.
    unsigned deviations() const { return m_deviations; }
    // Bytes held that do not form a complete unit yet.
    size_t pending() const { return m_end - m_start; }

private:
    enum class Step { Done, NeedMore, Failed, Stopped };
    Step parseOne(Handler& handler);
    Step parseMessage(Handler& handler);
    bool parseHead(const char* head, size_t size, RtspMessage& message);
    bool fail(const std::string& why);

    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;  // first byte not yet handed on
    size_t m_end = 0;    // end of the bytes held
    unsigned m_deviations = 0;
    std::string m_error;
};

}  // namespace kx::media
