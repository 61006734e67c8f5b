#pragma once
// The "tavrix doc" commands for the JSON form of a document (persistence/DocumentJson.h):
//   doc export FILE.tvrx [--with-secrets]   the document as JSON on the output stream
//   doc import JSON FILE.tvrx [--replace]   a document from JSON ("-" reads standard input)
//   doc schema                              the JSON Schema of the format
// An import writes the whole document into a new file beside the target and renames it over the
// target, so a failed import leaves an existing document as it was; it replaces only a Tavrix
// document, never another file, and keeps the mode of the file it replaces (new files 0600).
//
// Run on the main thread of a command-line invocation; problems go to the error stream, one a line
// with the JSON path of the value, never a crash.

#include <ostream>
#include <string>

namespace DocJsonCommands {

int Export(const std::string& file, bool withSecrets, std::ostream& out, std::ostream& err);
int Import(const std::string& json, const std::string& file, bool replace, std::ostream& out,
           std::ostream& err);
int Schema(std::ostream& out);

} // namespace DocJsonCommands
