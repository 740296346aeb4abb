#include "win/app.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return qm::win::RunApplication(qm::win::CommandLineArguments());
}
