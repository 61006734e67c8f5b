#pragma once
// Mends WMV (ASF) recordings that a crash, a kill or a power cut left unfinished. The WMV writer
// fills in the file size, the number of data packets, the play and send durations, the size of
// the data object and appends the seek index only when the recording ends; a file cut short has
// its packets but a header saying "no packets, no length", which players show as an empty or
// broken file (FFmpeg decodes it by scanning but reports no duration and cannot seek).
//
// The repair walks the packets that reached the disk whole (all of one size, the header's packet
// size), reads their payloads for the key frames and presentation times, cuts off a packet that
// was being written, appends the simple index (one entry a second, as the writer does) and fills
// in the header, so that the file is an ordinary finished WMV file.
//
// Unfinished files are recognised by their own header: a seekable file (not a broadcast) whose
// file properties count no packets and no bytes while packets follow the data object. Which files
// may be touched (not being recorded, not written to lately) is decided by avirepair::RepairFolder,
// which calls these for *.wmv files.
//
// Any thread.

#include "recording/AviRepair.h"

#include <string>

namespace wmvrepair {

// NotAvi stands for "not an ASF file" here.
avirepair::EState Inspect(const std::string& file);
// Mends one unfinished file in place; CResult::frames counts the video frames (media objects)
// whose first part reached the disk.
avirepair::CResult Repair(const std::string& file);

} // namespace wmvrepair
