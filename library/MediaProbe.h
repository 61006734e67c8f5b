#pragma once
// What can be read from a recording without decoding it: container (from the file name),
// video codec, duration and frame count (GStreamer's discoverer), and the file's size. A file
// left half written by a crash may give no duration; the probe then says so and the caller falls
// back on the file's times.
//
// Any thread; GStreamer must have been initialised. The discoverer runs with a time-out, so a
// damaged file never blocks the caller for long.

#include <cstdint>
#include <string>

struct CMediaFacts {
    bool exists = false;
    bool readable = false; // the discoverer understood the file
    int64_t sizeBytes = 0;
    int64_t modifiedUnixMs = 0;
    int64_t durationMs = 0; // 0 when unknown
    int64_t frames = 0;     // duration times frame rate; 0 when unknown
    std::string codec;      // "H.264", "Uncompressed", ...; empty when unknown
    int32_t width = 0;
    int32_t height = 0;
};

namespace MediaProbe {

// "AVI", "WMV", "MP4", "Matroska" by the file's type; empty for any other file.
std::string ContainerOfFile(const std::string& path);
// Size and modification time only.
CMediaFacts Stat(const std::string& path);
// Stat plus what the discoverer reads (timeoutMs for the whole look).
CMediaFacts Probe(const std::string& path, int timeoutMs = 10000);

} // namespace MediaProbe
