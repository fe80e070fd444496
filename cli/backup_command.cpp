#include "cli/backup_command.h"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "backup/run_backup_job.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick backup --name NAME --host HOST[:PORT] --login LOGIN --database DB "
    "--save-to DIR\n"
    "The password is read from the environment variable VAULTWICK_PASSWORD (empty when unset).\n"
    "HOST may be host, host:port or [IPv6-address]:port; the port defaults to 3306.\n";

constexpr const char* kOptions[] = {"--name", "--host", "--login", "--database", "--save-to"};

// Each line goes out whole, so texts of the job never interleave mid-line.
class StandardErrorStatus : public StatusTextPort {
 public:
  void SetStatusText(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
};

class StandardErrorMessageBox : public MessageBoxPort {
 public:
  void ShowError(const std::string& text) override {
    std::fprintf(stderr, "error: %s\n", text.c_str());
  }
};

int UsageError(const char* problem, const char* detail) {
  std::fprintf(stderr, "vaultwick backup: %s%s\n%s", problem, detail, kUsage);
  return 2;
}

}  // namespace

int runBackupCommand(int argc, char** argv) {
  std::map<std::string_view, std::string> values;
  for (int i = 0; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (option == "--password") {
      return UsageError("the password is never taken from the command line; ",
                        "set VAULTWICK_PASSWORD");
    }
    bool known = false;
    for (const char* name : kOptions) {
      known = known || option == name;
    }
    if (!known) {
      return UsageError("unknown argument ", argv[i]);
    }
    if (i + 1 >= argc) {
      return UsageError("missing value for ", argv[i]);
    }
    values[option] = argv[++i];
  }
  for (const char* name : kOptions) {
    if (values.count(name) == 0) {
      return UsageError("missing ", name);
    }
  }

  auto request = std::make_unique<BackupRequest>();
  request->name = values["--name"];
  request->host = values["--host"];
  request->login = values["--login"];
  const char* password = std::getenv("VAULTWICK_PASSWORD");
  request->password = password != nullptr ? password : "";
  request->database = values["--database"];
  request->saveTo = values["--save-to"];
  request->statusEcho = std::make_shared<StandardErrorStatus>();
  request->messageBox = std::make_shared<StandardErrorMessageBox>();
  // Shared with the worker, which may still be leaving set_value when this
  // thread has its outcome and returns.
  auto finished = std::make_shared<std::promise<BackupOutcome>>();
  std::future<BackupOutcome> outcome = finished->get_future();
  request->onOutcome = [finished](const BackupOutcome& result) { finished->set_value(result); };

  if (!StartBackupJob(request.get())) {
    std::fprintf(stderr, "vaultwick backup: could not start the job's thread\n");
    return 1;
  }
  request.release();  // the job owns it now
  return outcome.get().result == BackupResult::Complete ? 0 : 1;
}

}  // namespace vaultwick
