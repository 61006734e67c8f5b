#pragma once
// Mends AVI recordings that a crash, a kill or a power cut left unfinished. The AVI writer puts
// the frame count, the sizes of the file and of its frame list and the frame index (idx1) in
// place only when the recording ends; a file cut short has its frames but an empty header, which
// FFmpeg reads by scanning while many players refuse the file or show it without length. The
// repair scans the frames that reached the disk, cuts off a frame that was being written, appends
// the index and fills in the header, so that the file is an ordinary finished AVI file.
//
// Unfinished files are recognised by their own header: a RIFF size that does not cover the file
// and a frame list ("movi") of size 4, as the writer leaves them until it finishes. A file being
// recorded looks the same, so the repair leaves alone the files this process is recording
// (registered by the record contexts) and files written to within the last minute (another
// process may record them).
//
// Files of the OpenDML extension (past 1 GB, more than one RIFF part) are not repaired.
//
// Any thread; the registry of files being recorded has its own lock.

#include <cstdint>
#include <string>
#include <vector>

namespace avirepair {

enum class EState {
    NotAvi,     // not an AVI file (or unreadable)
    Finished,   // a finished AVI file
    Unfinished, // left unfinished: the repair can mend it
    Unrepairable,
};

struct CResult {
    std::string file;
    bool repaired = false;
    int64_t frames = 0;   // video frames indexed
    int64_t cutBytes = 0; // bytes of a frame cut short, removed
    std::string problem;  // why it was not repaired
};

EState Inspect(const std::string& file);
// Mends one unfinished file in place.
CResult Repair(const std::string& file);
// Repairs every unfinished *.avi file (and, through wmvrepair, *.wmv file) in folder that is not being recorded and was last written
// at least minAgeSeconds ago. Returns what was found.
std::vector<CResult> RepairFolder(const std::string& folder, int64_t minAgeSeconds = 60);

// Record contexts tell which files they are recording (from the file's creation to its end).
void BeginRecording(const std::string& file);
void EndRecording(const std::string& file);

} // namespace avirepair
