#pragma once
// "tavrix user add NAME [--admin]", "tavrix user remove NAME", "tavrix user list" and
// "tavrix user token NAME": the accounts of the web interface in the user database. The password of
// "user add" comes from standard input when that is no terminal (one line), else from a prompt
// that does not echo it. Main thread, before anything else runs.

#include <iosfwd>
#include <string>

namespace WebCommands {

// dbPath empty: the settings' "UserDbPath". Exit statuses: 0, 1 on failure.
int Add(const std::string& name, bool admin, const std::string& dbPath, std::istream& in, std::ostream& out,
        std::ostream& err);
int Remove(const std::string& name, const std::string& dbPath, std::ostream& out, std::ostream& err);
int List(const std::string& dbPath, std::ostream& out, std::ostream& err);
int Token(const std::string& name, const std::string& dbPath, std::ostream& out, std::ostream& err);

} // namespace WebCommands
