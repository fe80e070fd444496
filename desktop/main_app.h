#pragma once

// The desktop program's application object: opens the settings store, runs
// the main window for the life of the program, and ends when it ends.
//
//   vaultwick-desktop [--store PATH] [--tray]
//
// --store names the settings store (else VAULTWICK_STORE, else the default
// under the user's configuration folder); --tray starts hidden in the tray,
// for a start at login.

#include <QApplication>

namespace vaultwick {

class CMainApp : public QApplication {
 public:
  CMainApp(int& argc, char** argv);

  // Runs the program; the process's exit status.
  int InitInstance();
};

}  // namespace vaultwick
