// vaultwick-desktop: the desktop program.

#include "desktop/main_app.h"

int main(int argc, char** argv) {
  vaultwick::CMainApp app(argc, argv);
  return app.InitInstance();
}
