#pragma once

// "Start at login": an XDG autostart entry that starts the desktop program
// hidden in the tray when the user logs in. The entry is the only state; the
// program asks the file system rather than keeping a setting of its own, so
// a user who deletes the entry by hand sees the box unticked.

#include <QString>

namespace vaultwick {

// $XDG_CONFIG_HOME/autostart/vaultwick-desktop.desktop (else ~/.config/...).
QString StartAtLoginEntryPath();

// True when the entry is there.
bool StartsAtLogin();

// Writes the entry, starting `program` with --tray, or removes it. False with
// `error` set to what the file system said when it could not.
bool SetStartAtLogin(bool on, const QString& program, QString* error);

}  // namespace vaultwick
