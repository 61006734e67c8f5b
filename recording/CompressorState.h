#pragma once
// The configuration state of a video encoder as a camera stores it (".CompressorData"): the
// encoder's settable properties whose values differ from their defaults, written as text
// "name=value name=value" with each value in GStreamer's own serialised form (strings quoted
// when they hold blanks). The camera's record settings page saves the state of the encoder the
// user configured (Save); a record context restores it on the encoder of each recording
// (Restore), parsing each value with its property's own parser.
//
// Stateless helpers; any thread. Bad state (text of another program, binary bytes, unknown names,
// values that do not parse) never fails a recording: what cannot be applied is skipped and
// described in the returned problems, which the caller logs.

#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

class CCompressorState {
public:
    // The state of encoder: its readable and writable properties (not construct-only, not
    // "name" or "parent") whose values differ from their defaults and can be serialised, in the
    // order the element class lists them. Empty when every property has its default.
    static std::string Save(GstElement* encoder);
    static std::vector<uint8_t> SaveBytes(GstElement* encoder);

    // Applies a state to encoder. Returns one text per part that was not applied: a name the
    // encoder does not have, a read-only property, a value its parser refuses, a token without
    // "=", or bytes that are not text at all (then nothing is applied).
    static std::vector<std::string> Restore(GstElement* encoder, const std::string& state);
    static std::vector<std::string> Restore(GstElement* encoder, const std::vector<uint8_t>& state);

    // Splits a state into its "name=value" tokens: blanks separate tokens except inside double
    // quotes, where a backslash protects the next character. Quotes stay part of the token.
    static std::vector<std::string> Tokenize(const std::string& state);
};
