#pragma once
// Starts the program of the command action: never through a shell, detached from Tavrix (a session
// of its own, standard streams on /dev/null, no descriptor of ours inherited) and collected by the
// child reaper when it ends. Its arguments come from the action's parameter text, split by
// shell-like quoting rules before the placeholders are expanded, so that a camera name or file name
// with blanks, quotes or ";" arrives as one argument of data.
//
// Called on the thread that runs the chain; returns as soon as the program has been started.

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class CProcessLauncher {
public:
    struct Token {
        std::string text;
        bool quoted = false; // had quotes: kept even when it expands to nothing
    };

    // Splits a parameter text into words: blanks, tabs and line breaks separate words; '...' keeps
    // everything literally; "..." keeps everything except that \" and \\ stand for " and \; outside
    // quotes a backslash takes the next character literally. An unclosed quote runs to the end.
    static std::vector<Token> Split(const std::string& text);

    // Split, then expand each word (the placeholders); an unquoted word that expands to nothing is
    // dropped, as a shell drops an empty unquoted expansion.
    static std::vector<std::string>
    BuildArguments(const std::string& parameters,
                   const std::function<std::string(const std::string&)>& expand);

    // Starts program with the arguments (argv[0] is the program itself). A program name without "/"
    // is looked up in PATH. Returns 0, or the errno value of the failure. startedPid, when given,
    // receives the program's process id.
    static int Start(const std::string& program, const std::vector<std::string>& arguments,
                     pid_t* startedPid = nullptr);

    // The system's text for an error number, or "Error " and the number when it has none.
    static std::string SystemErrorText(int error);
};
