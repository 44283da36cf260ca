// RtspRequest: one request as this client sends it, with exactly one header line per name;
// RtspAuthenticator: the Authorization header after a 401 challenge (Basic or Digest).
#pragma once

#include <string>
#include <vector>

#include "RtspWireReader.h"

namespace kx::media {

struct RtspRequest {
    std::string method;  // "OPTIONS", "SETUP", ...
    std::string uri;
    unsigned cseq = 0;
    std::vector<RtspHeader> headers;  // besides CSeq, Authorization and Content-Length
    std::string body;

    // Sets a header, replacing any earlier value of that name.
    void set(const std::string& name, const std::string& value);
    // The request's bytes: request line, CSeq, the headers in the order set, Authorization
    // (when not empty), Content-Length (with a body), the body. Empty when a line would
    // contain a CR, LF or NUL (text that came from a server or a user cannot add lines).
    std::string serialize(const std::string& authorization = "") const;
};

class RtspAuthenticator {
public:
    // Takes the challenge of a 401 reply (its WWW-Authenticate values): Digest preferred,
    // else Basic. False when none can be answered (unknown scheme or algorithm, values that
    // cannot be quoted).
    bool takeChallenge(const std::vector<std::string>& challenges, const std::string& user,
                       const std::string& password);
    bool active() const { return m_scheme != Scheme::None; }
    // The Authorization value for a request; empty when no challenge was taken.
    std::string authorization(const std::string& method, const std::string& uri) const;

private:
    enum class Scheme { None, Basic, Digest };
    Scheme m_scheme = Scheme::None;
    std::string m_user;
    std::string m_password;
    std::string m_realm;
    std::string m_nonce;
    std::string m_opaque;
    std::string m_algorithm;
};

}  // namespace kx::media
