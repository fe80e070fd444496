#pragma once

// What the tray says about the scheduled runs that ended while the window
// was away: the tip keeps every run that failed (or whose test restore did
// not verify) until the window is opened again, so that a run which ended
// well after one that failed does not hide it; without failures it tells how
// the last run ended.

#include <QString>
#include <QStringList>
#include <optional>

#include "shell/history.h"

namespace vaultwick {

class TrayReport {
 public:
  struct Notification {
    QString title;
    QString text;
  };

  // A scheduled run ended; `at` is its start as the tip shows it ("10:00").
  // The notification to show, when the run failed or its test restore did
  // not verify.
  std::optional<Notification> Add(const JobEnded& ended, const QString& at);

  // The lines below the tip's first; empty when no run ended since Clear.
  QString Text() const;

  // The window was opened: what the tip kept has been seen.
  void Clear();

 private:
  int runs_ = 0;
  QString last_;
  // "10:00" and "big — Can't select database big", oldest first.
  QStringList failedAt_;
  QStringList failures_;
};

}  // namespace vaultwick
