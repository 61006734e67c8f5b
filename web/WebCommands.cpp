#include "web/WebCommands.h"

#include "foundation/Exceptions.h"
#include "web/WebUsers.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace {

std::string Describe(const CBaseException& e) {
    return e.First().info.empty() ? e.GetMessage() : e.GetMessage() + ": " + e.First().info;
}

std::string PathOrDefault(const std::string& dbPath) {
    return dbPath.empty() ? CWebUsers::DefaultPath(true) : dbPath;
}

// One line, without its line end.
bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

// Asks on the terminal with echo switched off.
bool PromptHidden(const char* prompt, std::string& answer) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = ReadLine(std::cin, answer);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
    std::fputs("\n", stderr);
    return ok;
}

bool ReadPassword(std::istream& in, std::string& password, std::ostream& err) {
    if (&in != &std::cin || !isatty(STDIN_FILENO)) {
        if (!ReadLine(in, password)) {
            err << "tavrix: no password on standard input\n";
            return false;
        }
        return true;
    }
    std::string again;
    if (!PromptHidden("Password: ", password) || !PromptHidden("Password again: ", again)) {
        return false;
    }
    if (password != again) {
        err << "tavrix: the two passwords differ\n";
        return false;
    }
    return true;
}

} // namespace

namespace WebCommands {

int Add(const std::string& name, bool admin, const std::string& dbPath, std::istream& in, std::ostream& out,
        std::ostream& err) {
    try {
        if (!CWebUsers::IsValidName(name)) {
            err << "tavrix: a user name has 1 to 64 letters, digits and the characters . _ - @\n";
            return 1;
        }
        CWebUsers users(PathOrDefault(dbPath));
        if (users.Find(name)) {
            err << "tavrix: the user '" << name << "' exists already\n";
            return 1;
        }
        std::string password;
        if (!ReadPassword(in, password, err)) {
            return 1;
        }
        users.Add(name, password, admin ? EWebRole::Admin : EWebRole::Viewer);
        out << "Added the " << CWebUsers::RoleName(admin ? EWebRole::Admin : EWebRole::Viewer) << " '" << name
            << "'\n";
        return 0;
    } catch (const CBaseException& e) {
        err << "tavrix: " << Describe(e) << "\n";
        return 1;
    }
}

int Remove(const std::string& name, const std::string& dbPath, std::ostream& out, std::ostream& err) {
    try {
        CWebUsers users(PathOrDefault(dbPath));
        if (!users.Remove(name)) {
            err << "tavrix: there is no user '" << name << "'\n";
            return 1;
        }
        out << "Removed the user '" << name << "'\n";
        return 0;
    } catch (const CBaseException& e) {
        err << "tavrix: " << Describe(e) << "\n";
        return 1;
    }
}

int List(const std::string& dbPath, std::ostream& out, std::ostream& err) {
    try {
        CWebUsers users(PathOrDefault(dbPath));
        for (const CWebUser& user : users.List()) {
            out << user.name << "\t" << CWebUsers::RoleName(user.role) << "\t"
                << (user.hasToken ? "token" : "-") << "\n";
        }
        return 0;
    } catch (const CBaseException& e) {
        err << "tavrix: " << Describe(e) << "\n";
        return 1;
    }
}

int Token(const std::string& name, const std::string& dbPath, std::ostream& out, std::ostream& err) {
    try {
        CWebUsers users(PathOrDefault(dbPath));
        out << users.NewToken(name) << "\n";
        return 0;
    } catch (const CBaseException& e) {
        err << "tavrix: " << Describe(e) << "\n";
        return 1;
    }
}

} // namespace WebCommands
