#include "shell/history.h"

namespace vaultwick {

const char* JobOriginName(JobOrigin origin) {
  switch (origin) {
    case JobOrigin::Schedule:
      return "schedule";
    case JobOrigin::DownloadNow:
      return "download now";
    case JobOrigin::Command:
      return "command";
  }
  return "";
}

const char* BackupResultName(BackupResult result) {
  // A result added later reads as "Failed" here until it is named; its end
  // text and cause still go into the history.
  switch (result) {
    case BackupResult::Complete:
      return "Complete";
    case BackupResult::CompleteWithErrors:
      return "CompleteWithErrors";
    case BackupResult::InvalidName:
      return "InvalidName";
    case BackupResult::NoTempFolder:
      return "NoTempFolder";
    case BackupResult::ConnectFailed:
      return "ConnectFailed";
    case BackupResult::SelectFailed:
      return "SelectFailed";
    case BackupResult::Cancelled:
      return "Cancelled";
    case BackupResult::ErrorOccurred:
      return "ErrorOccurred";
    case BackupResult::DumpWriteFailed:
      return "DumpWriteFailed";
    case BackupResult::ArchiveFailed:
      return "ArchiveFailed";
    case BackupResult::CopyFailed:
      return "CopyFailed";
    case BackupResult::ServerLost:
      return "ServerLost";
    case BackupResult::Stopped:
      return "Stopped";
    case BackupResult::NoRoom:
      return "NoRoom";
    default:
      return "Failed";
  }
}

const char* VerifyRestoreResultName(VerifyRestoreOutcome::Result result) {
  switch (result) {
    case VerifyRestoreOutcome::Result::Verified:
      return "verified";
    case VerifyRestoreOutcome::Result::Differs:
      return "differs";
    case VerifyRestoreOutcome::Result::Failed:
      return "failed";
  }
  return "failed";
}

bool WasStarted(const HistoryRow& row) {
  return row.result != kResultNotStarted && row.result != kResultQueued;
}

HistoryRow MakeHistoryRow(const JobEnded& ended, WallTime endedAt) {
  HistoryRow row;
  row.connection = ended.connection;
  row.startedBy = JobOriginName(ended.origin);
  row.startedAt = ToUnixSeconds(ended.startedAt);
  row.endedAt = ToUnixSeconds(endedAt);
  row.durationMs = ended.durationMs;
  if (!ended.outcome) {
    row.endedAt = row.startedAt;  // refused as it was asked to start
    row.result = kResultNotStarted;
    row.endText = kTextPreviousRunStillGoing;
    row.archiveChecked = false;
    return row;
  }
  const BackupOutcome& outcome = *ended.outcome;
  row.result = BackupResultName(outcome.result);
  row.endText = outcome.endText;
  row.cause = outcome.cause;
  row.archiveSize = static_cast<std::int64_t>(outcome.archiveSize);
  row.rows = static_cast<std::int64_t>(outcome.rowsWritten);
  row.archiveChecked = outcome.archiveChecked;
  if (outcome.verifyRestore) {
    row.verified = VerifyRestoreResultName(outcome.verifyRestore->result);
    row.verifyDetail = outcome.verifyRestore->detail;
  }
  return row;
}

HistoryRow MakeQueuedRow(const std::string& connection, WallTime at, int maxParallel) {
  HistoryRow row;
  row.connection = connection;
  row.startedBy = JobOriginName(JobOrigin::Schedule);
  row.startedAt = row.endedAt = ToUnixSeconds(at);
  row.result = kResultQueued;
  row.endText = "Queued: at most " + std::to_string(maxParallel) + " backups run at once";
  return row;
}

std::string AppendToHistory(SettingsStore& store, const HistoryRow& row) {
  try {
    store.AppendHistory(row);
  } catch (const SettingsStoreError& error) {
    return error.what();
  }
  return {};
}

std::vector<HistoryRow> ReadHistory(SettingsStore& store, std::string_view connection, int limit) {
  return store.ReadHistory(connection, limit);
}

std::string OffsiteFailureLine(const HistoryRow& row) {
  if (row.offsite != kOffsiteFailed) {
    return {};
  }
  return row.offsiteDetail.substr(row.offsiteDetail.find_last_of('\n') + 1);
}

std::string NotCopiedOffsiteText(std::string_view why) {
  return "not copied off-site: " + std::string(why);
}

}  // namespace vaultwick
