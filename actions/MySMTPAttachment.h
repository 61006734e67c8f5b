#pragma once
// A file attached to a mail: its title and file name (the path's last component) and the base64
// text of its whole content, encoded once when the file is loaded. Also the base64 encoder of the
// SMTP client (the AUTH LOGIN lines). Used on the thread that runs the mail action.
//
// Encoded text follows the mail line rules: "\r\n" after every 76 output characters and always a
// final "\r\n", so an exactly full last line is followed by an empty line and empty input encodes
// to "\r\n" alone.

#include <cstddef>
#include <cstdint>
#include <string>

namespace mylib {

class MySMTPAttachment {
public:
    static constexpr size_t kLineLength = 76;

    // Reads the file whole and encodes it; title and file name become the path's last component.
    // Throws CSMTPEx "Failed to get the status for file <path>, probably does not exist" or "Failed
    // to open file to be attached".
    void LoadFromFile(const std::string& path);

    const std::string& GetTitle() const { return m_title; }
    const std::string& GetFileName() const { return m_fileName; }
    const std::string& GetEncodedText() const { return m_encoded; }
    size_t GetEncodedLength() const { return m_encoded.size(); }

    // Base64 with the line rules above.
    static std::string Encode(const uint8_t* data, size_t size);
    static std::string Encode(const std::string& text) {
        return Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    // Base64 on one line followed by "\r\n", for the login lines (a long user name must not be
    // broken into two protocol lines).
    static std::string EncodeLine(const std::string& text);

private:
    std::string m_title;
    std::string m_fileName;
    std::string m_encoded;
};

} // namespace mylib
