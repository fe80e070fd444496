// Many connections due in one hour: 40 small connections on the private
// server, all due at the same tick, run by the scheduler with at most N
// backups at once, N = 1, 2 and 4. Each N runs in a child process of its own
// so that its peak memory (wait4's ru_maxrss) is its own. Prints the wall
// time, the peak memory, the most jobs seen at once, and whether every
// connection ran exactly once.
//
//   eval "$(scripts/mariadb start /tmp/vw-bench-db)"
//   BUILD/bench/shell/scheduler_queue_bench [CONNECTIONS] [ROWS]   (default 40, 2000)
//   scripts/mariadb stop /tmp/vw-bench-db

#include <mysql.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bench/backup/bench_server.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/connections.h"
#include "shell/history.h"
#include "shell/job_runner.h"
#include "shell/scheduler.h"
#include "shell/target_folder.h"

namespace {

using namespace vaultwick;
namespace fs = std::filesystem;

constexpr const char* kDatabase = "vw_queue_bench";

struct Ends {
  std::mutex mutex;
  std::condition_variable changed;
  int ended = 0;
};

// One scheduler with at most `maxParallel` at once; 0 when every connection
// ran once and well.
int Child(int maxParallel, int connections, const bench::Server& server) {
  const fs::path folder =
      fs::temp_directory_path() / ("vw-queue-bench-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder / "archives");
  int status = 1;
  {
    auto store = SettingsStore::Open((folder / "settings.sqlite").string());
    SaveTargetFolder(*store, (folder / "archives").string());
    std::vector<std::string> names;
    for (int i = 0; i < connections; ++i) {
      const std::string name = "c" + std::to_string(100 + i);
      names.push_back(name);
      AddConnectionNamed(*store, name);
      ApplyConnectionChanges(*store, name, {name, bench::LoginTo(server, kDatabase), 0, 1});
    }
    Ends ends;
    int mostAtOnce = 0;
    SystemClock wallClock;
    JobRunner::Observer observer;
    observer.placeFreed = [&ends] {
      std::lock_guard<std::mutex> lock(ends.mutex);
      ++ends.ended;
      ends.changed.notify_all();
    };
    JobRunner runner(store.get(), wallClock, observer);
    TestClock dueHour(LocalTime{2030, 1, 1, 2, 0, 5});
    Scheduler scheduler(*store, runner, dueHour, maxParallel);

    const auto start = std::chrono::steady_clock::now();
    scheduler.Tick(names);
    // `seen` is read before each StartQueued, so a job that ends meanwhile
    // still wakes the next wait.
    for (int seen = 0;;) {
      mostAtOnce = std::max(mostAtOnce, runner.RunningJobCount());
      std::unique_lock<std::mutex> lock(ends.mutex);
      ends.changed.wait(lock, [&] { return ends.ended != seen; });
      seen = ends.ended;
      if (seen == connections) {
        break;
      }
      lock.unlock();
      scheduler.StartQueued();
    }
    runner.WaitForAll(std::chrono::minutes(1));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::map<std::string, int> runs;
    int good = 0;
    for (const HistoryRow& row : ReadHistory(*store, "", connections * 4)) {
      if (WasStarted(row)) {
        ++runs[row.connection];
        good += row.result == "Complete" ? 1 : 0;
      }
    }
    const bool eachOnce =
        static_cast<int>(runs.size()) == connections &&
        std::all_of(runs.begin(), runs.end(), [](const auto& entry) { return entry.second == 1; });
    std::printf("N=%d  %d connections  wall %.2f s  most at once %d  each ran once: %s  good %d\n",
                maxParallel, connections, seconds, mostAtOnce, eachOnce ? "yes" : "NO", good);
    std::fflush(stdout);
    status = eachOnce && good == connections && mostAtOnce <= maxParallel ? 0 : 1;
  }
  fs::remove_all(folder);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const int connections = argc > 1 ? std::atoi(argv[1]) : 40;
  const long rows = argc > 2 ? std::atol(argv[2]) : 2000;
  bench::Server server;
  MYSQL* connection = bench::ConnectFromEnvironment(&server);
  if (connection == nullptr || !bench::CreateBenchDatabase(connection, kDatabase, rows)) {
    return 2;
  }
  mysql_close(connection);
  std::printf("%d connections of one %ld-row table, all due at one tick\n", connections, rows);
  std::fflush(stdout);
  int failures = 0;
  for (int maxParallel : {1, 2, 4}) {
    std::fflush(stdout);  // else the child writes the parent's buffer again
    const pid_t child = fork();
    if (child == 0) {
      _exit(Child(maxParallel, connections, server));
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("N=%d  peak memory %.1f MiB\n", maxParallel,
                static_cast<double>(usage.ru_maxrss) / 1024);
    failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
  }
  connection = bench::Connect(server, nullptr);
  if (connection != nullptr) {
    bench::Run(connection, std::string("DROP DATABASE ") + kDatabase);
    mysql_close(connection);
  }
  return failures == 0 ? 0 : 1;
}
