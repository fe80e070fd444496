#include "shell/connections.h"

#include <algorithm>
#include <string>
#include <utility>

#include "backup/backup_request.h"
#include "shell/archive_password.h"
#include "shell/target_folder.h"

namespace vaultwick {
namespace {

// The low byte of a stored schedule value, as a signed 8-bit number.
int LowByte(std::int64_t stored) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(stored & 0xFF));
}

ConnectionRow ToRow(const ConnectionProfile& profile) {
  ConnectionRow row;
  row.name = profile.name;
  row.server = profile.server;
  row.start = profile.startHour;
  row.period = profile.periodHours;
  return row;
}

ConnectionProfile ProfileOf(const ConnectionRow& row) {
  ConnectionProfile profile;
  profile.name = row.name;
  profile.server = row.server;
  profile.startHour = NormaliseStartHour(row.start);
  profile.periodHours = NormalisePeriod(row.period);
  return profile;
}

ChangeResult CheckProfile(const ConnectionProfile& profile) {
  if (!IsUsableConnectionName(profile.name)) {
    return ChangeResult::InvalidName;
  }
  if (profile.startHour < 0 || profile.startHour > 23) {
    return ChangeResult::InvalidStartHour;
  }
  if (std::find(std::begin(kPeriodChoices), std::end(kPeriodChoices), profile.periodHours) ==
      std::end(kPeriodChoices)) {
    return ChangeResult::InvalidPeriod;
  }
  return ChangeResult::Done;
}

// Rewrites the stored row of `name` as `change` leaves it, in one transaction.
// False when there is no such connection or `change` returned false.
template <class Change>
bool ChangeRow(SettingsStore& store, std::string_view name, Change&& change) {
  bool changed = false;
  store.WriteTransaction([&] {
    std::optional<ConnectionRow> row = store.ReadConnection(name);
    if (!row || !change(*row)) {
      return;
    }
    store.DeleteConnection(name);
    store.InsertConnection(*row);
    changed = true;
  });
  return changed;
}

}  // namespace

int NormaliseStartHour(std::int64_t stored) {
  const int start = LowByte(stored) % 24;
  return start < 0 ? start + 24 : start;
}

int NormalisePeriod(std::int64_t stored) {
  return ((LowByte(stored) - 1) % 24) + 1;
}

bool IsDueAt(int hour, int startHour, int periodHours) {
  return periodHours != 0 && (hour - startHour) % periodHours == 0;
}

const char* ChangeResultText(ChangeResult result) {
  switch (result) {
    case ChangeResult::Done:
      return "";
    case ChangeResult::NameExists:
      return kTextConnectionExists;
    case ChangeResult::InvalidName:
      return kTextInvalidConnectionName;
    case ChangeResult::InvalidStartHour:
      return kTextInvalidStartHour;
    case ChangeResult::InvalidPeriod:
      return kTextInvalidPeriod;
    case ChangeResult::InvalidScratchDatabase:
      return kTextInvalidScratchDatabase;
    case ChangeResult::InvalidKeepCount:
      return kTextInvalidKeepCount;
    case ChangeResult::EmptyArchivePassword:
      return kTextEmptyArchivePassword;
    case ChangeResult::InvalidAlertChannel:
      return kTextInvalidAlertChannel;
    case ChangeResult::MissingRcloneConfig:
      return kTextMissingRcloneConfig;
  }
  return "";
}

bool IsUsableConnectionName(std::string_view name) {
  return IsValidConnectionName(name);
}

bool SameConnectionName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

std::vector<std::string> ListConnections(SettingsStore& store) {
  return store.ConnectionNames();
}

std::string AddConnection(SettingsStore& store) {
  std::string added;
  store.WriteTransaction([&] {
    ConnectionRow row;
    row.name = std::string(kNewConnectionName);
    for (int n = 0; !store.InsertConnection(row); ++n) {
      row.name = std::string(kNewConnectionName) + " " + std::to_string(n);
    }
    added = row.name;
  });
  return added;
}

ChangeResult AddConnectionNamed(SettingsStore& store, std::string_view name) {
  if (!IsUsableConnectionName(name)) {
    return ChangeResult::InvalidName;
  }
  ConnectionRow row;
  row.name = std::string(name);
  return store.InsertConnection(row) ? ChangeResult::Done : ChangeResult::NameExists;
}

std::optional<ConnectionProfile> LoadConnection(SettingsStore& store, std::string_view name) {
  std::optional<ConnectionRow> row = store.ReadConnection(name);
  if (!row) {
    return std::nullopt;
  }
  return ProfileOf(*row);
}

std::optional<StoredConnection> ReadStoredConnection(SettingsStore& store, std::string_view name) {
  std::optional<ConnectionRow> row = store.ReadConnection(name);
  if (!row) {
    return std::nullopt;
  }
  StoredConnection stored;
  stored.profile = ProfileOf(*row);
  stored.verifyRestore = row->verifyRestore;
  stored.saveTo = LoadTargetFolder(store);
  stored.encryptArchives = row->encryptArchives != 0;
  stored.archivePassword = row->archivePassword;
  stored.passwordsUnavailable = row->secretsUnavailable;
  return stored;
}

StoredConnectionRead TryReadStoredConnection(SettingsStore& store, std::string_view name) {
  StoredConnectionRead read;
  try {
    read.connection = ReadStoredConnection(store, name);
  } catch (const SettingsStoreError& error) {
    read.error = error.what();
  }
  return read;
}

bool RemoveConnection(SettingsStore& store, std::string_view name) {
  return store.DeleteConnection(name);
}

ChangeResult ApplyConnectionChanges(SettingsStore& store, std::string_view oldName,
                                    const ConnectionProfile& changed) {
  ChangeResult result = CheckProfile(changed);
  if (result != ChangeResult::Done) {
    return result;
  }
  store.WriteTransaction([&] {
    if (!SameConnectionName(oldName, changed.name) && store.ReadConnection(changed.name)) {
      result = ChangeResult::NameExists;
      return;
    }
    ConnectionRow row = ToRow(changed);
    if (std::optional<ConnectionRow> old = store.ReadConnection(oldName)) {
      row.verifyRestore = old->verifyRestore;
      row.server.tls = old->server.tls;
      row.keepHourly = old->keepHourly;
      row.keepDaily = old->keepDaily;
      row.keepWeekly = old->keepWeekly;
      row.keepMonthly = old->keepMonthly;
      row.archivePassword = old->archivePassword;
      row.encryptArchives = old->encryptArchives;
    }
    if (!row.verifyRestore.empty() && SameConnectionName(row.verifyRestore, row.server.database)) {
      result = ChangeResult::InvalidScratchDatabase;
      return;
    }
    store.DeleteConnection(oldName);
    store.InsertConnection(row);
  });
  return result;
}

std::optional<ChangeResult> SetVerifyRestore(SettingsStore& store, std::string_view name,
                                             const std::optional<std::string>& scratchDatabase) {
  std::optional<ChangeResult> result;
  ChangeRow(store, name, [&](ConnectionRow& row) {
    if (scratchDatabase &&
        (scratchDatabase->empty() || SameConnectionName(*scratchDatabase, row.server.database))) {
      result = ChangeResult::InvalidScratchDatabase;
      return false;
    }
    row.verifyRestore = scratchDatabase.value_or("");
    result = ChangeResult::Done;
    return true;
  });
  return result;
}

bool SetConnectionTls(SettingsStore& store, std::string_view name, const TlsSettings& tls) {
  return ChangeRow(store, name, [&](ConnectionRow& row) {
    row.server.tls = tls;
    return true;
  });
}

std::optional<ChangeResult> SetArchiveEncryption(SettingsStore& store, std::string_view name,
                                                 std::optional<bool> encrypt,
                                                 const std::optional<std::string>& password) {
  if (password && password->empty()) {
    return ChangeResult::EmptyArchivePassword;
  }
  const bool found = ChangeRow(store, name, [&](ConnectionRow& row) {
    if (password) {
      row.archivePassword = *password;
    }
    if (encrypt) {
      row.encryptArchives = *encrypt ? 1 : 0;
    }
    if (row.encryptArchives != 0 && row.archivePassword.empty()) {
      row.archivePassword = GenerateArchivePassword();
    }
    return true;
  });
  return found ? std::optional(ChangeResult::Done) : std::nullopt;
}

namespace {

// The four counts of a policy and the row's columns that keep them.
constexpr std::pair<int KeepPolicy::*, std::int64_t ConnectionRow::*> kKeepColumns[] = {
    {&KeepPolicy::hourly, &ConnectionRow::keepHourly},
    {&KeepPolicy::daily, &ConnectionRow::keepDaily},
    {&KeepPolicy::weekly, &ConnectionRow::keepWeekly},
    {&KeepPolicy::monthly, &ConnectionRow::keepMonthly},
};

}  // namespace

std::optional<KeepPolicy> LoadKeepPolicy(SettingsStore& store, std::string_view name) {
  std::optional<ConnectionRow> row = store.ReadConnection(name);
  if (!row) {
    return std::nullopt;
  }
  KeepPolicy policy;
  for (const auto& [count, column] : kKeepColumns) {
    const std::int64_t stored = (*row).*column;
    if (stored >= 0 && stored <= kMaxKeepCount) {
      policy.*count = static_cast<int>(stored);
    }
  }
  return policy;
}

std::optional<ChangeResult> SetKeepPolicy(SettingsStore& store, std::string_view name,
                                          const KeepPolicy& policy) {
  std::optional<ChangeResult> result;
  store.WriteTransaction([&] {
    std::optional<ConnectionRow> row = store.ReadConnection(name);
    if (!row) {
      return;
    }
    if (!IsValidKeepPolicy(policy)) {
      result = ChangeResult::InvalidKeepCount;
      return;
    }
    for (const auto& [count, column] : kKeepColumns) {
      (*row).*column = policy.*count;
    }
    store.DeleteConnection(name);
    store.InsertConnection(*row);
    result = ChangeResult::Done;
  });
  return result;
}

}  // namespace vaultwick
