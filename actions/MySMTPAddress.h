#pragma once
// An e-mail address with an optional display name, as the SMTP client puts it into RCPT TO, MAIL FROM
// and the header lines. Addresses order by the e-mail address alone (byte-wise), which decides the
// order of a message's recipients and makes a repeated address count once. A plain value.

#include <string>

namespace mylib {

class MySMTPAddress {
public:
    MySMTPAddress() = default;
    explicit MySMTPAddress(std::string emailAddress, std::string name = {})
        : m_name(std::move(name)), m_emailAddress(std::move(emailAddress)) {}

    const std::string& GetName() const { return m_name; }
    const std::string& GetEmailAddress() const { return m_emailAddress; }

    // The address alone when there is no name, otherwise name + "<" + address + ">".
    std::string GetRegularFormat() const {
        if (m_name.empty()) {
            return m_emailAddress;
        }
        return m_name + "<" + m_emailAddress + ">";
    }

    bool operator<(const MySMTPAddress& other) const { return m_emailAddress < other.m_emailAddress; }

private:
    std::string m_name;
    std::string m_emailAddress;
};

} // namespace mylib
