// The named-pipe natives of Win32CommunicationBackend across two real processes: this test
// calls the natives through the fake JNI environment, pipepeer is the other end.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "BlockPattern.h"
#include "NativesTestSupport.h"
#include "natives/pipes/RetryPolicy.h"

namespace {

using namespace nativetest;
using shipkit::natives::PipeTimings;
using shipkit::natives::pipeTimings;

constexpr const char* kBackend = "Win32CommunicationBackend.";

class PipeNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(natives_.bound());
    name_ = L"\\\\.\\pipe\\" + uniqueName(L"shipkit-test");
    saved_ = pipeTimings();
  }
  void TearDown() override {
    if (listener_ != -1) call("closeHandle0", {listener_});
    pipeTimings() = saved_;
  }

  json call(const std::string& method, const json& args) { return natives_.call(kBackend + method, args); }
  std::string name() const { return utf8(name_); }
  void listen() {
    listener_ = call("createListener0", {name()}).get<std::int64_t>();
    ASSERT_NE(listener_, -1);
  }
  json readBlock() { return call("readDataBlock0", {listener_}); }

  BoundNatives natives_;
  std::wstring name_;
  std::int64_t listener_ = -1;
  PipeTimings saved_;
};

TEST_F(PipeNatives, ServerAcceptsAClientThatConnectedBeforeTheCall) {
  listen();
  const std::wstring eventName = uniqueName(L"shipkit-test-connected");
  HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  ASSERT_NE(connected, nullptr);
  Peer peer(L"client " + name_ + L" signal:" + eventName + L" send:5:1");
  ASSERT_TRUE(peer.started());
  ASSERT_EQ(WaitForSingleObject(connected, 20000), WAIT_OBJECT_0) << "pipepeer did not connect";
  CloseHandle(connected);
  EXPECT_EQ(call("connectNamedPipe0", {listener_}), true);
  EXPECT_EQ(readBlock(), javaBytes(pipepeer::patternBlock(5)));
  EXPECT_EQ(peer.exitCode(), 0u);
}

struct BlockCase {
  const char* name;
  std::size_t size;
  std::size_t piece;  // the peer writes header and payload in writes of at most this many bytes
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.name;
}

class PipeBlocks : public PipeNatives, public ::testing::WithParamInterface<BlockCase> {};

// The peer's block arrives whole however it was cut up, and the same bytes written back
// arrive at the peer as one block with the right header.
TEST_P(PipeBlocks, ArriveWholeInBothDirections) {
  const BlockCase& c = GetParam();
  listen();
  const std::wstring size = std::to_wstring(c.size);
  Peer peer(L"client " + name_ + L" send:" + size + L":" + std::to_wstring(c.piece) + L" expect:" + size);
  ASSERT_EQ(call("connectNamedPipe0", {listener_}), true);
  const json expected = javaBytes(pipepeer::patternBlock(c.size));
  EXPECT_EQ(readBlock(), expected);
  EXPECT_EQ(call("writeDataBlock0", {listener_, expected}), true);
  EXPECT_EQ(peer.exitCode(), 0u) << "pipepeer saw another block";
}

INSTANTIATE_TEST_SUITE_P(Sizes, PipeBlocks,
                         ::testing::Values(BlockCase{"Empty", 0, 1}, BlockCase{"OneByteBytewise", 1, 1},
                                           BlockCase{"HeaderSplit", 3, 3}, BlockCase{"Kib64", 65536, 1021},
                                           BlockCase{"Mib1", 1 << 20, 65537}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ClosingCase {
  const char* name;
  const wchar_t* steps;  // what the peer writes before it closes its end
};

void PrintTo(const ClosingCase& c, std::ostream* os) {
  *os << c.name;
}

class PipePeerCloses : public PipeNatives, public ::testing::WithParamInterface<ClosingCase> {};

// The read ends with null at the closed end instead of waiting for bytes that never come,
// and a write to the closed pipe reports failure.
TEST_P(PipePeerCloses, ReadGivesNullAndWriteFalse) {
  listen();
  Peer peer(L"client " + name_ + L" " + GetParam().steps);
  ASSERT_EQ(call("connectNamedPipe0", {listener_}), true);
  EXPECT_EQ(readBlock(), nullptr);
  ASSERT_EQ(peer.exitCode(), 0u);  // it ends once its bytes are read
  EXPECT_EQ(call("writeDataBlock0", {listener_, javaBytes({1, 2, 3})}), false);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, PipePeerCloses,
    ::testing::Values(ClosingCase{"WithoutWriting", L""}, ClosingCase{"InsideTheHeader", L"header:100:2"},
                      ClosingCase{"AfterPartOfThePayload", L"partial:100:10"},
                      // More than a Java array can hold: nothing is allocated or read.
                      ClosingCase{"AfterAnOversizedHeader", L"header:4294967295"},
                      // The virtual machine cannot allocate 2 GiB: OutOfMemoryError is cleared.
                      ClosingCase{"AfterAnUnallocatableHeader", L"header:2147483647"}),
    [](const auto& info) { return std::string(info.param.name); });

// A block whose bytes cannot be had (the virtual machine is out of memory) is not begun: no
// header goes out without its payload, so the peer's next block arrives whole.
TEST_F(PipeNatives, ABlockWhoseBytesCannotBeHadSendsNothing) {
  listen();
  Peer peer(L"client " + name_ + L" expect:3");
  ASSERT_EQ(call("connectNamedPipe0", {listener_}), true);
  natives_.vm().failCall("GetByteArrayElements", 0);
  EXPECT_EQ(call("writeDataBlock0", {listener_, javaBytes(pipepeer::patternBlock(5))}), false);
  EXPECT_EQ(call("writeDataBlock0", {listener_, javaBytes(pipepeer::patternBlock(3))}), true);
  EXPECT_EQ(peer.exitCode(), 0u) << "pipepeer read a header without its payload";
}

TEST_F(PipeNatives, DisconnectLetsASecondClientUseTheSameServerHandle) {
  listen();
  {
    Peer first(L"client " + name_ + L" send:10:4 drain");
    ASSERT_EQ(call("connectNamedPipe0", {listener_}), true);
    EXPECT_EQ(readBlock(), javaBytes(pipepeer::patternBlock(10)));
    call("disconnectNamedPipe0", {listener_});
    EXPECT_EQ(first.exitCode(), 0u);
  }
  Peer second(L"client " + name_ + L" send:20:20");
  ASSERT_EQ(call("connectNamedPipe0", {listener_}), true);
  EXPECT_EQ(readBlock(), javaBytes(pipepeer::patternBlock(20)));
  EXPECT_EQ(second.exitCode(), 0u);
}

TEST_F(PipeNatives, ASecondListenerOnTheSameNameFails) {
  listen();
  EXPECT_EQ(call("createListener0", {name()}), -1);
}

TEST_F(PipeNatives, ClientTalksToAServerProcess) {
  Peer server(L"server " + name_ + L" expect:3 send:7:2");
  const std::int64_t client = call("connectClient0", {name()}).get<std::int64_t>();
  ASSERT_NE(client, 0);
  ASSERT_NE(client, -1);
  EXPECT_EQ(call("writeDataBlock0", {client, javaBytes(pipepeer::patternBlock(3))}), true);
  EXPECT_EQ(call("readDataBlock0", {client}), javaBytes(pipepeer::patternBlock(7)));
  call("closeHandle0", {client});
  EXPECT_EQ(server.exitCode(), 0u);
}

TEST_F(PipeNatives, ClientGivesUpWithZeroOnANameNoServerCreates) {
  pipeTimings().clientOpen = {3, 1};
  pipeTimings().firstClientWaitMs = 10;
  pipeTimings().laterClientWaitMs = 10;
  StdoutCapture out;
  EXPECT_EQ(call("connectClient0", {name()}), 0);
  EXPECT_EQ(out.finish(), "could not open file 2 " + name() + "\n");
}

// A client that came and went before the server called ConnectNamedPipe leaves the server
// end unusable (ERROR_NO_DATA) until it is disconnected: the server gives up after its retries.
TEST_F(PipeNatives, ServerGivesUpAfterItsRetries) {
  listen();
  Peer gone(L"client " + name_);
  ASSERT_EQ(gone.exitCode(), 0u);
  pipeTimings().serverConnect = {2, 1};
  StdoutCapture out;
  EXPECT_EQ(call("connectNamedPipe0", {listener_}), false);
  EXPECT_EQ(out.finish(), "could not connect named pipe 232\n");
}

TEST_F(PipeNatives, NoHandleAndNoNameDoNothing) {
  EXPECT_EQ(call("getInvalidHandle0", json::array()), -1);
  EXPECT_EQ(call("connectNamedPipe0", {-1}), false);
  EXPECT_EQ(call("readDataBlock0", {-1}), nullptr);
  EXPECT_EQ(call("writeDataBlock0", {-1, javaBytes({1})}), false);
  call("disconnectNamedPipe0", {-1});
  call("closeHandle0", {-1});
  EXPECT_EQ(call("createListener0", {nullptr}), -1);
  EXPECT_EQ(call("connectClient0", {nullptr}), 0);
}

// ---------------------------------------------------------------------------------------
// isProcessAlive0 and Win32Exec.launch0

TEST_F(PipeNatives, ProcessAliveForRunningProcessesOnly) {
  EXPECT_EQ(call("isProcessAlive0", {int(GetCurrentProcessId())}), true);
  EXPECT_EQ(call("getCurrentProcessId0", json::array()), int(GetCurrentProcessId()));
  {
    Peer waiting(L"server " + name_);  // waits for a client that never comes
    ASSERT_TRUE(waiting.started());
    EXPECT_EQ(call("isProcessAlive0", {int(waiting.id())}), true);
  }
  // Held open by the owner, the ended process keeps its id: no other process can take it.
  Peer ended(L"touch NUL");
  ASSERT_EQ(ended.exitCode(), 0u);
  EXPECT_EQ(call("isProcessAlive0", {int(ended.id())}), false);
  EXPECT_EQ(call("isProcessAlive0", {0x7FFFFFF0}), false);
  EXPECT_EQ(call("isProcessAlive0", {-4}), false);
}

// A file that the launched process creates, removed before and after.
class LaunchedFile {
 public:
  LaunchedFile() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + uniqueName(L"launched") + L".txt";
    DeleteFileW(path_.c_str());
  }
  ~LaunchedFile() { DeleteFileW(path_.c_str()); }
  const std::wstring& path() const { return path_; }
  // Polls for the text the helper writes, up to 20 s.
  bool appeared() const {
    for (int i = 0; i < 400; ++i) {
      HANDLE f =
          CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (f != INVALID_HANDLE_VALUE) {
        char text[8] = {};
        DWORD got = 0;
        ReadFile(f, text, sizeof text, &got, nullptr);
        CloseHandle(f);
        if (std::string(text, got) == "ran") return true;
      }
      Sleep(50);
    }
    return false;
  }

 private:
  std::wstring path_;
};

TEST_F(PipeNatives, LaunchStartsTheProgramWithoutWaiting) {
  const std::string exe = utf8(pipePeerPath());
  {
    LaunchedFile file;
    EXPECT_EQ(natives_.call("Win32Exec.launch0", {exe, "pipepeer touch \"" + utf8(file.path()) + "\""}), 0);
    EXPECT_TRUE(file.appeared());
  }
  {
    // Without an application path the command line's first word names the program.
    LaunchedFile file;
    EXPECT_EQ(
        natives_.call("Win32Exec.launch0", {nullptr, "\"" + exe + "\" touch \"" + utf8(file.path()) + "\""}),
        0);
    EXPECT_TRUE(file.appeared());
  }
}

TEST_F(PipeNatives, LaunchOfAMissingProgramGivesTheSystemError) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::string missing = utf8(dir) + utf8(uniqueName(L"missing")) + ".exe";
  EXPECT_EQ(natives_.call("Win32Exec.launch0", {missing, "missing"}), ERROR_FILE_NOT_FOUND);
}

}  // namespace
