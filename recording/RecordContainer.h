#pragma once
// The file format of a camera's recordings: the camera key ".RecordContainer" chooses AVI or WMV
// (as ".WMVActive" says), MP4 or Matroska, the latter two holding H.264. Documents written before
// the key existed read 0 and record as they always did; new cameras get MP4.
//
// Also finds the H.264 encoder that recordings into MP4 and Matroska use: the fastest present
// that works, a hardware (VA-API) encoder only when it encodes a test frame, else x264enc.
// Any thread; the encoder probe runs once per process and is guarded by a once-flag.

#include <cstdint>
#include <string>
#include <vector>

enum class ERecordContainer : int32_t {
    AsWmvActive = 0, // AVI or WMV, by ".WMVActive"
    Mp4 = 1,         // fragmented while written, finalised at the stop
    Matroska = 2,
};

constexpr int32_t kNewCameraRecordContainer = static_cast<int32_t>(ERecordContainer::Mp4);

// True for the values that ".RecordContainer" may hold.
bool IsKnownRecordContainer(int32_t value);
// True when the recording is H.264 in MP4 or Matroska.
bool IsH264Container(int32_t value);
// "avi", "wmv", "mp4" or "mkv": the file type that a name template's %t gives. An unknown
// container value gives the file type of ".WMVActive" (the recording itself refuses it).
std::string RecordFileExtension(int32_t container, bool wmvActive);
// The user-visible name of a container value ("AVI/WMV", "MP4", "Matroska").
std::string RecordContainerName(int32_t container);

// The factory name of the H.264 encoder for recordings: preferred when it is present and works,
// else the fastest that works; empty when none is present.
std::string FindH264Encoder(const std::string& preferred = "");
// The H.264 encoders present that work here, fastest first (hardware ones proved by a test).
std::vector<std::string> WorkingH264Encoders();
// x264enc's speed presets by ".H264Preset" value (1 "ultrafast" ... 9 "veryslow"); "veryfast"
// for a value out of range.
const char* X264PresetName(int32_t preset);
