#pragma once
// Display names of network cameras and of video files played as cameras, parsed into what their
// source needs, and the same names (or any text holding them) with their passwords masked:
//
//   rtsp://[USER[:PASSWORD]@]HOST[:PORT]/PATH[?...]   an RTSP camera over TCP (interleaved)
//   rtsp://...?transport=udp                          the same over UDP; also rtsps:// (TLS)
//   http://[USER[:PASSWORD]@]HOST[:PORT]/PATH         an MJPEG stream (multipart/x-mixed-replace);
//   https://...                                       basic or digest authentication
//   file:PATH[?loop=1]                                a video file played at its own rate, looping
//                                                     when asked (file:///PATH also reads PATH)
//
// User and password may be percent-encoded (%40 for '@'); the URL handed to the source carries
// neither (they go to the source's own properties), and `transport=` is taken out of its query.
// Passwords are shown as "USER:****@" wherever a name is shown (MaskPasswords).
//
// Pure functions; any thread.

#include <cstdint>
#include <string>

struct CNetworkSourceName {
    enum class Scheme { Rtsp, Rtsps, Http, Https, File };
    Scheme scheme = Scheme::Rtsp;
    std::string location; // RTSP/HTTP: the URL without user and password; File: the path
    std::string user;     // decoded; empty when the name has none
    std::string password; // decoded
    bool hasUser = false;
    bool udp = false;  // RTSP: ?transport=udp
    bool loop = false; // File: ?loop=1

    bool IsFile() const { return scheme == Scheme::File; }
    bool IsRtsp() const { return scheme == Scheme::Rtsp || scheme == Scheme::Rtsps; }
    bool IsHttp() const { return scheme == Scheme::Http || scheme == Scheme::Https; }

    // Whether the name begins with one of the schemes above (case-insensitive for the URLs);
    // such a name is parsed here or is unparsable, never anything else.
    static bool IsNetworkName(const std::string& displayName);
    // Parses a display name; throws CDirectXEx (MK_E_SYNTAX) "Unable to parse device name of
    // capture device." for a name that is not one of the forms above (no host, a bad port,
    // control characters, an unknown option).
    static CNetworkSourceName Parse(const std::string& displayName);
};

// The text with the password of every "scheme://user:password@" in it written as "****"; text
// without one comes back unchanged.
std::string MaskPasswords(const std::string& text);
// Whether the display name carries a password (a document holding it is kept private).
bool HasPassword(const std::string& displayName);
