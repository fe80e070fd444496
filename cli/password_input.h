#pragma once

// The one way a command takes a password from its user: the first line of
// standard input (`--password-stdin`). A password on the command line is
// visible to every user in the process list, and one in the environment to
// the same user and root (`ps e`).

#include <string>

#include "cli/command_support.h"

namespace vaultwick {

// The first line of io.in, without its line end. From a terminal it asks on
// io.err and does not echo what is typed; the prompt shows once echo is off.
std::string ReadPasswordLine(const CommandIo& io, const char* prompt = "Password: ");

}  // namespace vaultwick
