#include "bench/support/child_programs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vaultwick::bench {

pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err) {
  const pid_t child = fork();
  if (child == 0) {
    if (in >= 0) {
      dup2(in, 0);
    }
    if (out >= 0) {
      dup2(out, 1);
    }
    if (err >= 0) {
      dup2(err, 2);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

ChildEnd Wait(pid_t child) {
  ChildEnd end;
  if (child < 0) {
    return end;
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  end.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  end.peakKilobytes = usage.ru_maxrss;
  return end;
}

ChildEnd RunProgram(const std::vector<std::string>& args, const std::string& in,
                    const std::string& out) {
  const int input = in.empty() ? -1 : open(in.c_str(), O_RDONLY | O_CLOEXEC);
  const int output =
      out.empty() ? -1 : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t child = Spawn(args, input, output);
  for (int descriptor : {input, output}) {
    if (descriptor >= 0) {
      close(descriptor);
    }
  }
  return Wait(child);
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace vaultwick::bench
