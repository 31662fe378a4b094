// Ends the process while another thread is still writing to the diagnostic log, as the
// launcher does when the user cancels the progress dialog during the main work. A test runs
// it with TEMP pointing to a fresh directory and checks the exit code and that no log is left.
#include <windows.h>

#include <cstdlib>
#include <thread>

#include "core/Log.h"

int main() {
  shipkit::core::logLine(L"logexit: started");
  std::thread([] {
    for (;;) shipkit::core::logLine(L"logexit: still writing");
  }).detach();
  ::Sleep(20);
  std::exit(0);
}
