#include "StreamAddress.h"

#include <array>

#include "NarrowText.h"

namespace {

// One step of an address form, read like a scan format.
enum class Step {
    Scheme,        // the literal "rtsp://"
    Colon,         // the literal ":"
    At,            // the literal "@"
    UserToColon,   // user name: everything up to ":"
    UserToAt,      // user name: everything up to "@"
    PasswordToAt,  // password: everything up to "@"
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
    {Step::Scheme, Step::HostToColon, Step::Colon, Step::Port, Step::Path, Step::End},
    {Step::Scheme, Step::HostToSlash, Step::Path, Step::End},
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
    explicit Scanner(std::string_view text) : m_text(text) {}

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
        return out.size() <= kNarrowTextMaxLength;
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
        return out.size() <= kNarrowTextMaxLength;
    }

private:
    void SkipSpace() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

Outcome MatchForm(const Form& form, std::string_view text, StreamAddress& out) {
    Scanner scanner(text);
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
                bOk = scanner.Literal("@");
                break;
            case Step::UserToColon:
                bOk = scanner.Until(':', out.strUser);
                break;
            case Step::UserToAt:
                bOk = scanner.Until('@', out.strUser);
                break;
            case Step::PasswordToAt:
                bOk = scanner.Until('@', out.strPassword);
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

std::optional<StreamAddress> SplitStreamAddress(std::string_view address) {
    if (address.size() > kNarrowTextMaxLength) return std::nullopt;
    if (address.find('\0') != std::string_view::npos) return std::nullopt;
    for (std::size_t i = 0; i < kForms.size(); ++i) {
        // A fresh record per form: parts a failed form wrote never reach the result.
        StreamAddress result;
        switch (MatchForm(kForms[i], address, result)) {
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
