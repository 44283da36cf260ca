// A login record: a server's address, port and credentials. Nothing is sent when it is
// created; the credentials are first used when a play builds its stream address.
#pragma once

#include <cstdint>

namespace kx::sdk {

// Filled as a whole by KX_NET_Login; every text is NUL-terminated and fits its field.
struct LoginParams {
    char szHost[16] = {0};  // at most 15 characters: a dotted IPv4 address
    uint16_t nPort = 0;
    char szUserName[50] = {0};  // empty: none
    char szPassword[50] = {0};  // empty: none
};

class CLoginClient {
public:
    CLoginClient(int32_t loginHandle, const LoginParams& params)
        : m_nLoginHandle(loginHandle), m_params(params) {}
    virtual ~CLoginClient() = default;
    CLoginClient(const CLoginClient&) = delete;
    CLoginClient& operator=(const CLoginClient&) = delete;

    int32_t LoginHandle() const { return m_nLoginHandle; }
    const LoginParams& Params() const { return m_params; }

private:
    int32_t m_nLoginHandle;
    LoginParams m_params;
};

}  // namespace kx::sdk
