#include "desktop/start_at_login.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vaultwick {
namespace {

// An Exec argument as the desktop entry format reads it: a path with a space
// or a reserved character goes in double quotes, with ", `, $ and \ escaped;
// the value's own escaping then doubles every backslash.
QString ExecArgument(const QString& argument) {
  static const QString kPlain =
      QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,");
  bool plain = !argument.isEmpty();
  for (QChar c : argument) {
    plain = plain && kPlain.contains(c);
  }
  if (plain) {
    return argument;
  }
  QString quoted = QStringLiteral("\"");
  for (QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
      quoted += u'\\';
    }
    quoted += c;
  }
  quoted += u'"';
  return quoted.replace(u'\\', QStringLiteral("\\\\"));
}

}  // namespace

QString StartAtLoginEntryPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/autostart/vaultwick-desktop.desktop");
}

bool StartsAtLogin() {
  return QFileInfo::exists(StartAtLoginEntryPath());
}

bool SetStartAtLogin(bool on, const QString& program, QString* error) {
  const QString path = StartAtLoginEntryPath();
  if (!on) {
    QFile entry(path);
    if (entry.exists() && !entry.remove()) {
      *error = path + QStringLiteral(": ") + entry.errorString();
      return false;
    }
    return true;
  }
  const QString folder = QFileInfo(path).path();
  if (!QDir().mkpath(folder)) {
    *error = folder + QStringLiteral(": the folder could not be made");
    return false;
  }
  QSaveFile entry(path);
  if (!entry.open(QIODevice::WriteOnly)) {
    *error = path + QStringLiteral(": ") + entry.errorString();
    return false;
  }
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Tessaly Vaultwick\n"
                           "Comment=Scheduled backups of MySQL and MariaDB databases, from the "
                           "tray\n"
                           "Exec=%1 --tray\n"
                           "Icon=vaultwick-desktop\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(ExecArgument(program));
  entry.write(text.toUtf8());
  if (!entry.commit()) {
    *error = path + QStringLiteral(": ") + entry.errorString();
    return false;
  }
  return true;
}

}  // namespace vaultwick
