#pragma once
// The programs a document starts by itself: every "Invoke Command" action of a chain that one of
// its cameras binds to an event. Opening a document that someone else made must not start them
// unseen: the desktop shows them and asks once before the document runs, the headless shell
// writes each of them to the notification log (its command line is the user's consent).
//
// Whose programs they are is kept outside the document, where the document's author cannot write:
// the settings file of the user, group "[Approved Programs]", holds the digests of the program
// lists that this user saved in the desktop application or allowed when asked (one value per
// digest). A document whose program list has such a digest was last saved, or allowed, by this
// user on this machine; a document without programs never needs asking. Changing any program or
// its parameters changes the digest, so an edited document is asked about again.
//
// Threads: the user-interface thread (opening and saving documents).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CTavrixDocData;

// One program that a camera event starts.
struct CChainProgram {
    std::string cameraName;
    int32_t eventKind = 0; // 1 Activate .. 7 Error Occurred
    std::string chainName;
    std::string command;
    std::string parameters;
};

namespace ChainPrograms {

// The programs of the document in camera id order, then event kind, then action order. Chains
// that no camera binds cannot run and are not listed.
std::vector<CChainProgram> List(const CTavrixDocData& data);
// A digest (SHA-256, hex) of the programs and their parameters, independent of their order, the
// cameras and the events; empty for no programs.
std::string Digest(const std::vector<CChainProgram>& programs);
// The notification log text of one program ("Event 'Activate' starts the program '/usr/bin/x'
// with the parameters '-v %f' (chain 'Alarm')"); the log entry names document and camera.
std::string LogText(const CChainProgram& program);
// One line of the list shown before a document runs: camera, event, program and parameters, with
// control characters written as \xNN so that every program is one visible line.
std::string DisplayLine(const CChainProgram& program);

} // namespace ChainPrograms

// The digests of the program lists this user saved or allowed, in the settings file.
class CApprovedPrograms {
public:
    static constexpr const char* kGroup = "Approved Programs";
    // At most this many digests are kept; the oldest go first.
    static constexpr size_t kMaximum = 200;

    explicit CApprovedPrograms(std::string settingsPath);

    // True for an empty digest (nothing to approve) and for a digest stored in the file.
    bool IsApproved(const std::string& digest) const;
    // Stores the digest (reading and writing the file whole, keeping every other group). False
    // when the settings file cannot be read or written.
    bool Approve(const std::string& digest) const;

private:
    std::string m_settingsPath;
};
