// Where the user's files and this program's own file are: the home folder
// (HOME, else the passwd entry's, as the XDG rules allow) and the program's
// real path (/proc/self/exe), each told in one place.
#pragma once

#include <string>

namespace quellora::posix {

// $HOME when it is an absolute path, else the home of the user's passwd
// entry; without trailing slashes ("/" stays "/"). Empty when neither names one.
std::string HomeFolder();

// Why a command that writes into the home folder cannot, when HomeFolder is empty.
inline constexpr const char* kNoHomeFolder = "no home folder (HOME is not set and the passwd entry names none)";

// The real path of the running program, read from /proc/self/exe; empty,
// with `error` saying why, when it cannot be told.
std::string ThisProgram(std::string& error);

}  // namespace quellora::posix
