// Ends the process while another thread is still writing to the diagnostic log, as the
// launcher does when the user cancels the progress dialog during the main work. A test runs
// it with TEMP pointing to a fresh directory and checks the exit code and that no log is left.
// With the argument "batch" the writer holds the log open in a batch while the process exits.
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

#include "core/Log.h"

int main(int argc, char** argv) {
  const bool batch = argc > 1 && std::string_view(argv[1]) == "batch";
  shipkit::core::logLine(L"logexit: started");
  std::thread([batch] {
    std::optional<shipkit::core::LogBatch> held;
    if (batch) held.emplace();
    for (;;) shipkit::core::logLine(L"logexit: still writing");
  }).detach();
  ::Sleep(20);
  std::exit(0);
}
