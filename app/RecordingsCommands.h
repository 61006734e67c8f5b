#pragma once
// The "tavrix recordings" commands on the recordings catalogue in the user database:
//
//   recordings list [--document FILE] [--camera NAME] [--since YYYY-MM-DD] [--json]
//       one line per recording, newest first: start (local time), camera, duration, size, path,
//       tab-separated; or a JSON array with every field
//   recordings prune FILE.tvrx [--dry-run]
//       applies the document's retention now and prints what it removes (or would remove)
//   recordings import FILE.tvrx
//       catalogues the recordings in the document's record folder that match its cameras' file
//       name templates and that the catalogue does not know
//
// Run on the main thread of a command-line invocation; errors go to the error stream as one
// clear line (status 1; 2 for a wrong command line), never a crash.

#include <ostream>
#include <string>
#include <vector>

namespace RecordingsCommands {

// args: everything after "recordings".
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// "1.5 MiB", "820 KiB", "12 B"
std::string SizeText(int64_t bytes);
// "H:MM:SS"
std::string DurationText(int64_t ms);

} // namespace RecordingsCommands
