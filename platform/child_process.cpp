#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/descriptor.h"

extern char** environ;

namespace vaultwick {

namespace {

// How often a running child's stop flag is looked at.
constexpr std::chrono::milliseconds kStopLatency{50};

struct Pipe {
  Descriptor read;
  Descriptor write;
  bool Make() {
    int fds[2];
    // Close-on-exec, so that a child another thread starts meanwhile never
    // holds our pipe open; the spawn's dup2 clears it on the child's copy.
    if (pipe2(fds, O_CLOEXEC) != 0) {
      return false;
    }
    read.Reset(fds[0]);
    write.Reset(fds[1]);
    return true;
  }
};

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }

  int Prepare(int outFd, int errFd) {
    int result =
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (result == 0) {
      result = posix_spawn_file_actions_adddup2(&actions_, outFd, STDOUT_FILENO);
    }
    if (result == 0) {
      result = posix_spawn_file_actions_adddup2(&actions_, errFd, STDERR_FILENO);
    }
    if (result != 0) {
      return result;
    }
    // A thread that blocks the stop signals (to take them itself) or a
    // process that ignores SIGPIPE would otherwise hand that on to the child.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setpgroup(&attributes_, 0);
    return posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

void KeepTail(std::string& tail, std::string_view more) {
  tail.append(more);
  if (tail.size() > ChildOutcome::kErrorTail) {
    tail.erase(0, tail.size() - ChildOutcome::kErrorTail);
  }
}

enum class Read { Some, Nothing, End };

// Reads what one pipe has now; Nothing when a non-blocking pipe is empty.
Read ReadSome(Descriptor& fd, const ChildOutputHandler& take, bool& refused) {
  std::array<char, 64 * 1024> buffer;
  ssize_t got = read(fd.get(), buffer.data(), buffer.size());
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
    return Read::Nothing;
  }
  if (got <= 0) {
    fd.Close();
    return Read::End;
  }
  if (!take(std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
    refused = true;
  }
  return Read::Some;
}

// Reads what a pipe holds now without waiting for more.
void Drain(Descriptor& fd, const ChildOutputHandler& take, bool& refused) {
  if (!fd.open()) {
    return;
  }
  fcntl(fd.get(), F_SETFL, O_NONBLOCK);
  while (!refused && ReadSome(fd, take, refused) == Read::Some) {
  }
}

// Whether the child has ended, without reaping it: while it is a zombie its
// id cannot name another process or group.
bool HasEnded(pid_t child) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == child;
}

// This process's environment with `changes` ("NAME=value") laid over it.
// Built before the spawn: no other thread's setenv is involved.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool replaced = std::any_of(changes.begin(), changes.end(), [&](const std::string& c) {
      return c.size() > name.size() && c.compare(0, name.size(), name) == 0 &&
             c[name.size()] == '=';
    });
    if (!replaced) {
      entries.emplace_back(text);
    }
  }
  entries.insert(entries.end(), changes.begin(), changes.end());
  return entries;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::string& text : strings) {
    pointers.push_back(const_cast<char*>(text.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildOutcome RunChild(const std::vector<std::string>& argv, const ChildLimits& limits,
                      const ChildOutputHandler& onOutput,
                      const std::vector<std::string>& environment) {
  ChildOutcome outcome;
  if (argv.empty()) {
    outcome.error = EINVAL;
    return outcome;
  }
  Pipe out;
  Pipe err;
  if (!out.Make() || !err.Make()) {
    outcome.error = errno;
    return outcome;
  }
  SpawnSetup setup;
  if (int result = setup.Prepare(out.write.get(), err.write.get()); result != 0) {
    outcome.error = result;
    return outcome;
  }
  std::vector<char*> arguments = Pointers(argv);
  const std::vector<std::string> childEnvironment =
      environment.empty() ? std::vector<std::string>() : ChildEnvironment(environment);
  std::vector<char*> environmentPointers = Pointers(childEnvironment);

  pid_t child = -1;
  // glibc's posix_spawn reports a failed exec (no such program) as its own
  // result, so a missing program never looks like a child that exited 127.
  if (int result =
          posix_spawnp(&child, arguments[0], setup.actions(), setup.attributes(), arguments.data(),
                       environment.empty() ? environ : environmentPointers.data());
      result != 0) {
    outcome.error = result;
    return outcome;
  }
  out.write.Close();
  err.write.Close();

  bool refused = false;
  const ChildOutputHandler takeError = [&outcome](std::string_view bytes) {
    KeepTail(outcome.errorTail, bytes);
    return true;
  };
  for (;;) {
    if (limits.stop.StopRequested()) {
      outcome.end = ChildEnd::Stopped;
      break;
    }
    if (refused) {
      outcome.end = ChildEnd::Refused;
      break;
    }
    auto now = std::chrono::steady_clock::now();
    if (now >= limits.deadline) {
      outcome.end = ChildEnd::TimedOut;
      break;
    }
    if (HasEnded(child)) {
      // What the child wrote before it ended is in the pipes now; a
      // descendant that still holds them is not waited for.
      Drain(out.read, onOutput, refused);
      Drain(err.read, takeError, refused);
      outcome.end = refused ? ChildEnd::Refused : ChildEnd::Exited;
      break;
    }
    auto wait = std::min<std::chrono::steady_clock::duration>(kStopLatency, limits.deadline - now);
    std::array<pollfd, 2> fds{{{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}}};
    int timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    if (poll(fds.data(), fds.size(), timeout) <= 0) {
      continue;
    }
    if (fds[0].revents != 0) {
      ReadSome(out.read, onOutput, refused);
    }
    if (fds[1].revents != 0) {
      ReadSome(err.read, takeError, refused);
    }
  }

  // The child's own group: this ends it (when it still runs) and whatever it
  // started, before its id is released by reaping it.
  kill(-child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (outcome.end == ChildEnd::Exited) {
    if (WIFEXITED(status)) {
      outcome.exitCode = WEXITSTATUS(status);
    } else {
      outcome.end = ChildEnd::Signalled;
    }
  }
  return outcome;
}

ChildOutcome RunChildCollecting(const std::vector<std::string>& argv, const ChildLimits& limits,
                                std::string& output, std::size_t maxOutput) {
  output.clear();
  return RunChild(argv, limits, [&output, maxOutput](std::string_view bytes) {
    if (output.size() + bytes.size() > maxOutput) {
      return false;
    }
    output.append(bytes);
    return true;
  });
}

}  // namespace vaultwick
