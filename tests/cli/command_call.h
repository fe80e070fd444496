#pragma once

// Calls a command in-process, as `vaultwick` calls it, with memory streams
// for standard input, output and error.

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "cli/command_support.h"

namespace vaultwick::test {

struct CommandRun {
  int status = -1;
  std::string out;
  std::string err;
};

using Command = std::function<int(int, char**, const CommandIo&)>;

inline CommandRun Call(const Command& command, std::vector<std::string> arguments,
                       const std::string& input = "") {
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  char* outBuffer = nullptr;
  char* errBuffer = nullptr;
  std::size_t outSize = 0;
  std::size_t errSize = 0;
  std::string inputCopy = input + '\0';
  CommandIo io;
  io.in = ::fmemopen(inputCopy.data(), input.size() + 1, "r");
  io.out = ::open_memstream(&outBuffer, &outSize);
  io.err = ::open_memstream(&errBuffer, &errSize);
  CommandRun run;
  run.status = command(static_cast<int>(argv.size()), argv.data(), io);
  for (std::FILE* stream : {io.in, io.out, io.err}) {
    std::fclose(stream);
  }
  run.out.assign(outBuffer, outSize);
  run.err.assign(errBuffer, errSize);
  std::free(outBuffer);
  std::free(errBuffer);
  return run;
}

}  // namespace vaultwick::test
