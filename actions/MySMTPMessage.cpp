#include "actions/MySMTPMessage.h"

#include "platform/Time.h"

#include <cstdio>
#include <random>
#include <sys/random.h>

namespace mylib {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string JoinAddresses(const std::set<MySMTPAddress>& addresses) {
    std::string text;
    for (const MySMTPAddress& address : addresses) {
        if (!text.empty()) {
            text += ",";
        }
        text += SingleLine(address.GetRegularFormat());
    }
    return text;
}

// "Mon, 05 Mar 2007 14:07:09 +0100" with English names whatever the locale.
std::string FormatDate(time_t now) {
    struct tm local {};
    localtime_r(&now, &local);
    int offset = platform::LocalUtcOffsetMinutes(now);
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) {
        offset = -offset;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  kDayNames[local.tm_wday % 7], local.tm_mday, kMonthNames[local.tm_mon % 12],
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign, offset / 60,
                  offset % 60);
    return text;
}

} // namespace

MySMTPMessage::MySMTPMessage() : m_boundary(NewBoundary()) {}

std::string MySMTPMessage::NewBoundary() {
    static const char kHex[] = "0123456789abcdef";
    unsigned char bytes[16];
    if (::getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) {
        std::random_device device;
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    std::string boundary = "=_Tavrix_";
    for (unsigned char byte : bytes) {
        boundary += kHex[byte >> 4];
        boundary += kHex[byte & 15];
    }
    return boundary;
}

std::string SingleLine(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return out;
}

std::string MimeParameter(const std::string& value) {
    static const std::string kSpecials = "()<>@,;:\\\"/[]?=";
    bool token = !value.empty();
    for (unsigned char c : value) {
        if (c <= 32 || c >= 127 || kSpecials.find(static_cast<char>(c)) != std::string::npos) {
            token = false;
            break;
        }
    }
    if (token) {
        return value;
    }
    std::string quoted = "\"";
    for (char c : SingleLine(value)) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

void MySMTPMessage::AddRecipient(const MySMTPAddress& address, int kind) {
    switch (kind) {
    case TO:
        m_to.insert(address);
        break;
    case CC:
        m_cc.insert(address);
        break;
    case BCC:
        m_bcc.insert(address);
        break;
    default:
        break;
    }
}

const std::set<MySMTPAddress>& MySMTPMessage::GetRecipients(int kind) const {
    return kind == CC ? m_cc : kind == BCC ? m_bcc : m_to;
}

void MySMTPMessage::SetBody(const std::string& text) {
    m_rawBody.clear();
    m_rawBody.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            m_rawBody += '\r';
        }
        m_rawBody += text[i];
    }
    m_body = DotStuff(m_rawBody);
}

std::string MySMTPMessage::DotStuff(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.' && (i == 0 || text[i - 1] == '\n')) {
            out += '.';
        }
        out += text[i];
    }
    return out;
}

std::string MySMTPMessage::QuotedPrintable(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    size_t column = 0;
    auto emit = [&](const std::string& piece) {
        // Soft line break so that no encoded line exceeds 76 characters.
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            column = 0;
            ++i;
            continue;
        }
        bool atLineEnd =
            i + 1 == text.size() || (text[i + 1] == '\r' && i + 2 < text.size() && text[i + 2] == '\n');
        bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atLineEnd);
        if (literal) {
            emit(std::string(1, static_cast<char>(c)));
        } else {
            emit(std::string{'=', kHex[c >> 4], kHex[c & 15]});
        }
    }
    return out;
}

std::string MySMTPMessage::GetMimeBody() const {
    return DotStuff(QuotedPrintable(m_rawBody));
}

std::string MySMTPMessage::GetHeader() const {
    return GetHeaderAt(time(nullptr));
}

std::string MySMTPMessage::GetHeaderAt(time_t now) const {
    std::string header = "From: " + SingleLine(m_from.GetRegularFormat());
    header += "\r\nTo: " + JoinAddresses(m_to);
    if (!m_cc.empty()) {
        header += "\r\nCc: " + JoinAddresses(m_cc);
    }
    header += "\r\nSubject: " + SingleLine(m_subject);
    header += "\r\nDate: " + FormatDate(now);
    header += "\r\nX-Mailer: " + SingleLine(m_mailer) + "\r\n";
    if (!m_replyTo.GetEmailAddress().empty()) {
        header += "Reply-To: " + SingleLine(m_replyTo.GetRegularFormat()) + "\r\n";
    }
    if (!m_attachments.empty()) {
        header += "MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"" + m_boundary + "\"\r\n";
    } else {
        header += "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n";
    }
    header += "\r\n";
    return header;
}

} // namespace mylib
