#include "StreamAddress.h"

#include <array>

namespace {

// One step of an address form, read like a scan format.
enum class Step {
    Scheme,        // the literal "rtsp://"
    Colon,         // the literal ":"
    At,            // the "@" that ends the user information
    NoUserInfo,    // the address has no user information
    UserToColon,   // user name: the user information up to its first ":"
    UserToAt,      // user name: the whole user information
    PasswordToAt,  // password: the rest of the user information
    HostToColon,   // host: everything up to ":"
    HostToSlash,   // host: everything up to "/"
    Port,          // decimal number, white space before it skipped
    Path,          // run of non-white-space characters, white space before it skipped
    End
};

using Form = std::array<Step, 10>;

constexpr std::array<Form, 6> kForms = {{
    {Step::Scheme, Step::UserToColon, Step::Colon, Step::PasswordToAt, Step::At, Step::HostToColon,
     Step::Colon, Step::Port, Step::Path, Step::End},
    {Step::Scheme, Step::UserToColon, Step::Colon, Step::PasswordToAt, Step::At, Step::HostToSlash,
     Step::Path, Step::End},
    {Step::Scheme, Step::UserToAt, Step::At, Step::HostToColon, Step::Colon, Step::Port, Step::Path,
     Step::End},
    {Step::Scheme, Step::UserToAt, Step::At, Step::HostToSlash, Step::Path, Step::End},
    {Step::Scheme, Step::NoUserInfo, Step::HostToColon, Step::Colon, Step::Port, Step::Path,
     Step::End},
    {Step::Scheme, Step::NoUserInfo, Step::HostToSlash, Step::Path, Step::End},
}};

// White space as the C locale's isspace sees it.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

enum class Outcome { Matched, NoMatch, Refused };

class Scanner {
public:
    Scanner(std::string_view text, std::optional<UserInfoSpan> userInfo)
        : m_text(text), m_userInfo(userInfo) {}

    // The user name: up to the first ":" of the user information, or all of it when `whole`.
    bool User(bool whole, std::string& out) {
        if (!m_userInfo || m_pos != m_userInfo->begin) return false;
        const std::string_view info = m_text.substr(m_pos, m_userInfo->at - m_pos);
        const std::size_t colon = whole ? info.size() : info.find(':');
        if (colon == std::string_view::npos) return false;
        return Take(colon, out);
    }

    // The password: the rest of the user information, "@" and ":" included.
    bool Password(std::string& out) {
        if (!m_userInfo || m_pos > m_userInfo->at) return false;
        return Take(m_userInfo->at - m_pos, out);
    }

    // The "@" that ends the user information.
    bool At() {
        if (!m_userInfo || m_pos != m_userInfo->at) return false;
        ++m_pos;
        return true;
    }

    // The forms without a user apply only to addresses without user information.
    bool NoUserInfo() const { return !m_userInfo; }

    bool Literal(std::string_view literal) {
        if (m_text.substr(m_pos, literal.size()) != literal) return false;
        m_pos += literal.size();
        return true;
    }

    // Every character up to `stop` or the end; at least one.
    bool Until(char stop, std::string& out) {
        const std::size_t begin = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != stop) ++m_pos;
        if (m_pos == begin) return false;
        out.assign(m_text.substr(begin, m_pos - begin));
        return out.size() <= kStreamAddressMaxLength;
    }

    // A decimal number with an optional sign. Numbers a port cannot hold (beyond 16 bits, or
    // negative) are read whole and flagged.
    bool Number(int32_t& out, bool& bOutOfRange) {
        SkipSpace();
        bool bNegative = false;
        if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) {
            bNegative = m_text[m_pos] == '-';
            ++m_pos;
        }
        if (m_pos >= m_text.size() || !IsDigit(m_text[m_pos])) return false;
        int64_t value = 0;
        bOutOfRange = false;
        while (m_pos < m_text.size() && IsDigit(m_text[m_pos])) {
            value = value * 10 + (m_text[m_pos] - '0');
            if (value > 65535) {
                bOutOfRange = true;
                value = 65535;  // keeps the sum bounded; the number is refused anyway
            }
            ++m_pos;
        }
        if (bNegative && value != 0) bOutOfRange = true;
        out = static_cast<int32_t>(value);
        return true;
    }

    bool Word(std::string& out) {
        SkipSpace();
        const std::size_t begin = m_pos;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) ++m_pos;
        if (m_pos == begin) return false;
        out.assign(m_text.substr(begin, m_pos - begin));
        return out.size() <= kStreamAddressMaxLength;
    }

private:
    bool Take(std::size_t length, std::string& out) {
        if (length == 0) return false;
        out.assign(m_text.substr(m_pos, length));
        m_pos += length;
        return out.size() <= kStreamAddressMaxLength;
    }

    void SkipSpace() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
    }

    std::string_view m_text;
    std::optional<UserInfoSpan> m_userInfo;
    std::size_t m_pos = 0;
};

Outcome MatchForm(const Form& form, std::string_view text, std::optional<UserInfoSpan> userInfo,
                  StreamAddress& out) {
    Scanner scanner(text, userInfo);
    bool bPortGiven = false;
    bool bPortOutOfRange = false;
    for (const Step step : form) {
        bool bOk = true;
        switch (step) {
            case Step::Scheme:
                bOk = scanner.Literal("rtsp://");
                break;
            case Step::Colon:
                bOk = scanner.Literal(":");
                break;
            case Step::At:
                bOk = scanner.At();
                break;
            case Step::NoUserInfo:
                bOk = scanner.NoUserInfo();
                break;
            case Step::UserToColon:
                bOk = scanner.User(false, out.strUser);
                break;
            case Step::UserToAt:
                bOk = scanner.User(true, out.strUser);
                break;
            case Step::PasswordToAt:
                bOk = scanner.Password(out.strPassword);
                break;
            case Step::HostToColon:
                bOk = scanner.Until(':', out.strHost);
                break;
            case Step::HostToSlash:
                bOk = scanner.Until('/', out.strHost);
                break;
            case Step::Port:
                bOk = scanner.Number(out.nPort, bPortOutOfRange);
                bPortGiven = true;
                break;
            case Step::Path:
                bOk = scanner.Word(out.strPath);
                break;
            case Step::End:
                // The form fits, but with a port no server can have: the address is wrong,
                // and no later form may read the number as part of the host.
                if (bPortOutOfRange) return Outcome::Refused;
                if (!bPortGiven) out.nPort = kDefaultRtspPort;
                return Outcome::Matched;
        }
        if (!bOk) return Outcome::NoMatch;
    }
    return Outcome::NoMatch;
}

}  // namespace

std::optional<UserInfoSpan> FindUserInfo(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return std::nullopt;
    const std::size_t begin = scheme + 3;
    const std::size_t slash = url.find('/', begin);
    const std::string_view authority =
        url.substr(begin, slash == std::string_view::npos ? std::string_view::npos : slash - begin);
    const std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos) return std::nullopt;
    return UserInfoSpan{begin, begin + at};
}

std::optional<StreamAddress> SplitStreamAddress(std::string_view address) {
    if (address.size() > kStreamAddressMaxLength) return std::nullopt;
    if (address.find('\0') != std::string_view::npos) return std::nullopt;
    // Only an address that starts with the scheme has user information to look for.
    std::optional<UserInfoSpan> userInfo;
    if (address.substr(0, 7) == "rtsp://") userInfo = FindUserInfo(address);
    for (std::size_t i = 0; i < kForms.size(); ++i) {
        // A fresh record per form: parts a failed form wrote never reach the result.
        StreamAddress result;
        switch (MatchForm(kForms[i], address, userInfo, result)) {
            case Outcome::Matched:
                result.nPattern = static_cast<int>(i) + 1;
                return result;
            case Outcome::Refused:
                return std::nullopt;
            case Outcome::NoMatch:
                break;
        }
    }
    return std::nullopt;
}
