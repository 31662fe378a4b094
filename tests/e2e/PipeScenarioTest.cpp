// The named-pipe natives through the real handshake: the launcher loads the fake jvm.dll and
// registers its natives, the fake Java side creates a pipe listener, starts pipepeer as its
// client through Win32Exec.launch0 and exchanges a block each way with it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "BlockPattern.h"
#include "E2eSupport.h"

using namespace e2e;

namespace {

json javaBytes(std::size_t length) {
  json list = json::array();
  for (std::uint8_t b : pipepeer::patternBlock(length)) list.push_back(int(std::int8_t(b)));
  return json{{"byte[]", list}};
}

using PipeScenario = JavaSideLaunch;

TEST_F(PipeScenario, JavaSideServesAClientProcessItLaunched) {
  const std::string pipe = "\\\\.\\pipe\\shipkit-e2e-" + std::to_string(::getpid());
  const fs::path done = box_.dir() / "client-done.txt";
  const std::string peer = winPath(outDir() / "testing" / "pipepeer.exe");
  const json steps = {
      call("Win32CommunicationBackend.createListener0", {pipe}, "server"),
      call("Win32Exec.launch0",
           {peer, "pipepeer client " + pipe + " send:7:2 expect:3 touch:" + winPath(done)}),
      call("Win32CommunicationBackend.connectNamedPipe0", {{{"saved", "server"}}}),
      call("Win32CommunicationBackend.readDataBlock0", {{{"saved", "server"}}}),
      call("Win32CommunicationBackend.writeDataBlock0", {{{"saved", "server"}}, javaBytes(3)}),
      call("Win32CommunicationBackend.disconnectNamedPipe0", {{{"saved", "server"}}}),
      call("Win32CommunicationBackend.closeHandle0", {{{"saved", "server"}}}),
  };
  RunResult r = run({{"main", steps}});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  const json rep = report();
  ASSERT_TRUE(rep.is_object());
  const json& calls = rep["calls"];
  ASSERT_EQ(calls.size(), steps.size()) << calls.dump().substr(0, 500);
  EXPECT_TRUE(calls[0]["result"].is_number_integer() && calls[0]["result"] != -1) << calls[0].dump();
  EXPECT_EQ(calls[1]["result"], 0) << "launch0";
  EXPECT_EQ(calls[2]["result"], true) << "connectNamedPipe0";
  EXPECT_EQ(calls[3]["result"], javaBytes(7)) << "readDataBlock0";
  EXPECT_EQ(calls[4]["result"], true) << "writeDataBlock0";
  for (const json& c : calls) EXPECT_EQ(c["exception"], nullptr) << c.dump().substr(0, 300);
  // The client checked the block it got and then wrote its mark; the flush waited for it to
  // read, so the mark follows soon after.
  for (int i = 0; i < 200 && !fs::exists(done); ++i) ::usleep(50000);
  EXPECT_EQ(Sandbox::readFile(done), "ran");
}

}  // namespace
