// The advisory file lock between holders in one process and in two, a holder
// killed without a chance to release it, and a lock that cannot be taken.

#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/scratch_folder.h"

namespace vaultwick::test {
namespace {

// A child process that takes the lock of `path` and then waits to be killed.
class HoldingChild {
 public:
  explicit HoldingChild(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      const FileLock lock = FileLock::TryTake(path);
      const char state = lock.held() ? 'H' : 'x';
      (void)!::write(ready[1], &state, 1);
      for (;;) {
        ::pause();
      }
    }
    ::close(ready[1]);
    if (pid_ > 0 && ::read(ready[0], &state_, 1) != 1) {
      state_ = '?';
    }
    ::close(ready[0]);
  }
  ~HoldingChild() { Kill(); }
  bool Holds() const { return state_ == 'H'; }
  // Ends the child as SIGKILL ends it, with no chance to release anything;
  // returns once it is gone.
  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  char state_ = '?';
};

TEST(FileLockTest, OneHolderAtATimeInOneProcess) {
  ScratchFolder scratch;
  const std::string path = scratch.File("locks/one");
  {
    FileLock first = FileLock::TryTake(path);
    ASSERT_TRUE(first.held()) << first.error();
    EXPECT_EQ(FileLock::TryTake(path).state(), FileLock::State::Busy);
    EXPECT_TRUE(FileLock::TryTake(scratch.File("locks/other")).held());
    FileLock moved = std::move(first);
    EXPECT_FALSE(first.held());
    EXPECT_EQ(FileLock::TryTake(path).state(), FileLock::State::Busy);
  }
  EXPECT_TRUE(FileLock::TryTake(path).held());
  EXPECT_EQ(ModeOf(scratch.File("locks")), 0700);
  EXPECT_EQ(ModeOf(path), 0600);
}

TEST(FileLockTest, AnotherProcessHoldsItUntilItIsKilled) {
  ScratchFolder scratch;
  const std::string path = scratch.File("lock");
  HoldingChild child(path);
  ASSERT_TRUE(child.Holds());
  EXPECT_EQ(FileLock::TryTake(path).state(), FileLock::State::Busy);
  child.Kill();
  EXPECT_TRUE(FileLock::TryTake(path).held());
}

TEST(FileLockTest, AFolderThatCannotBeMadeFails) {
  ScratchFolder scratch;
  WriteFileBytes(scratch.File("file"), "x");
  const FileLock lock = FileLock::TryTake(scratch.File("file/lock"));
  EXPECT_EQ(lock.state(), FileLock::State::Failed);
  EXPECT_EQ(lock.error(), ENOTDIR);
}

}  // namespace
}  // namespace vaultwick::test
