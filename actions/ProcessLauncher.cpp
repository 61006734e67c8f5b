#include "actions/ProcessLauncher.h"

#include "actions/ChildReaper.h"
#include "foundation/Tracer.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>

extern char** environ;

std::vector<CProcessLauncher::Token> CProcessLauncher::Split(const std::string& text) {
    std::vector<Token> tokens;
    Token current;
    bool inWord = false;
    size_t i = 0;
    const size_t n = text.size();
    auto finish = [&] {
        if (inWord) {
            tokens.push_back(std::move(current));
            current = Token{};
            inWord = false;
        }
    };
    while (i < n) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            finish();
            ++i;
        } else if (c == '\'') {
            inWord = true;
            current.quoted = true;
            size_t end = text.find('\'', i + 1);
            if (end == std::string::npos) {
                end = n;
            }
            current.text.append(text, i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '"') {
            inWord = true;
            current.quoted = true;
            ++i;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < n && (text[i + 1] == '"' || text[i + 1] == '\\')) {
                    ++i;
                }
                current.text += text[i++];
            }
            ++i; // the closing quote (or past the end)
        } else if (c == '\\') {
            inWord = true;
            if (i + 1 < n) {
                current.text += text[i + 1];
                i += 2;
            } else {
                current.text += '\\';
                ++i;
            }
        } else {
            inWord = true;
            current.text += c;
            ++i;
        }
    }
    finish();
    return tokens;
}

std::vector<std::string>
CProcessLauncher::BuildArguments(const std::string& parameters,
                                 const std::function<std::string(const std::string&)>& expand) {
    std::vector<std::string> arguments;
    for (const Token& token : Split(parameters)) {
        std::string value = expand ? expand(token.text) : token.text;
        if (!value.empty() || token.quoted) {
            arguments.push_back(std::move(value));
        }
    }
    return arguments;
}

int CProcessLauncher::Start(const std::string& program, const std::vector<std::string>& arguments,
                            pid_t* startedPid) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    // No descriptor of ours (sockets, database, pipes) reaches the program.
    posix_spawn_file_actions_addclosefrom_np(&files, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes, &mask);
    // Signals we ignore (SIGPIPE for the sockets) would stay ignored in the program.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM, SIGTSTP,
                       SIGTTIN, SIGTTOU}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int error;
    if (program.find('/') == std::string::npos) {
        error = program.empty()
                    ? ENOENT
                    : posix_spawnp(&pid, program.c_str(), &files, &attributes, argv.data(), environ);
    } else {
        error = posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    if (error != 0) {
        TRACE("CProcessLauncher::Start() of '%s' failed: %d", program.c_str(), error);
        return error;
    }
    TRACE("CProcessLauncher::Start() started '%s' as %d with %zu arguments", program.c_str(),
          static_cast<int>(pid), arguments.size());
    if (startedPid) {
        *startedPid = pid;
    }
    CChildReaper::Instance().Watch(pid);
    return 0;
}

std::string CProcessLauncher::SystemErrorText(int error) {
    char buffer[256];
    const char* text = strerror_r(error, buffer, sizeof(buffer));
    if (!text || !*text || std::strncmp(text, "Unknown error", 13) == 0) {
        return "Error " + std::to_string(error);
    }
    return text;
}
