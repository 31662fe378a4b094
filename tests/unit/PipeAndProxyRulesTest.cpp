// The data-block framing and transfer loop of the pipe natives, their retry decisions and
// the result codes of automatic proxy detection.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "natives/pipes/DataBlock.h"
#include "natives/pipes/RetryPolicy.h"
#include "natives/proxy/ProxyResult.h"

using namespace shipkit::natives;

TEST(DataBlockHeader, LengthIsLittleEndianAndAtMostTheLargestJavaArray) {
  struct Row {
    std::uint32_t length;
    BlockHeader bytes;
    std::optional<std::int32_t> decoded;
  } rows[] = {
      {0, {0, 0, 0, 0}, 0},
      {1, {1, 0, 0, 0}, 1},
      {0x01020304, {4, 3, 2, 1}, 0x01020304},
      {65536, {0, 0, 1, 0}, 65536},
      {0x7FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}, 0x7FFFFFFF},
      // Beyond a Java array's length: announced, but not receivable.
      {0x80000000, {0, 0, 0, 0x80}, std::nullopt},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}, std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(encodeBlockLength(row.length), row.bytes) << row.length;
    EXPECT_EQ(decodeBlockLength(row.bytes), row.decoded) << row.length;
  }
}

TEST(DataBlockTransfer, LoopsOverPiecesAndFailsOnErrorOrNoProgress) {
  // Each step moves the next scripted count (none: the call failed); an exhausted script fails.
  struct Row {
    const char* name;
    std::size_t total;
    std::vector<std::optional<std::size_t>> steps;
    bool complete;
    std::size_t callsMade;
    std::vector<std::size_t> askedRemaining;
  } rows[] = {
      {"NothingToMove", 0, {}, true, 0, {}},
      {"AllAtOnce", 10, {10}, true, 1, {10}},
      {"InPieces", 10, {3, 3, 3, 1}, true, 4, {10, 7, 4, 1}},
      {"OneByteSteps", 3, {1, 1, 1}, true, 3, {3, 2, 1}},
      {"FailsMidway", 10, {4, std::nullopt}, false, 2, {10, 6}},
      {"NoProgressEndsTheLoop", 10, {4, 0, 6}, false, 2, {10, 6}},
      {"MoreThanAskedIsAFault", 4, {5}, false, 1, {4}},
  };
  for (const auto& row : rows) {
    std::vector<std::size_t> asked, offsets;
    std::size_t calls = 0;
    bool complete = transferAll(row.total, [&](std::size_t offset, std::size_t remaining) {
      offsets.push_back(offset);
      asked.push_back(remaining);
      return calls < row.steps.size() ? row.steps[calls++] : std::nullopt;
    });
    EXPECT_EQ(complete, row.complete) << row.name;
    EXPECT_EQ(calls, row.callsMade) << row.name;
    EXPECT_EQ(asked, row.askedRemaining) << row.name;
    for (std::size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(offsets[i] + asked[i], row.total) << row.name;
  }
}

TEST(PipeRetries, GiveUpAfterTheFailureThatFollowsTheLastRetry) {
  const PipeTimings defaults;
  struct Row {
    const char* name;
    RetryPolicy policy;
    int failures;
    bool retry;
  } rows[] = {
      {"ServerFirstFailure", defaults.serverConnect, 1, true},
      {"Server600thFailure", defaults.serverConnect, 600, true},
      {"Server601stFailure", defaults.serverConnect, 601, false},
      {"Client200thFailure", defaults.clientOpen, 200, true},
      {"Client201stFailure", defaults.clientOpen, 201, false},
      {"NoRetries", {0, 0}, 1, false},
  };
  for (const auto& row : rows) EXPECT_EQ(row.policy.retryAfter(row.failures), row.retry) << row.name;
  EXPECT_EQ(defaults.serverConnect.sleepMs, 500u);
  EXPECT_EQ(defaults.clientOpen.sleepMs, 500u);
  EXPECT_EQ(defaults.firstClientWaitMs, 300000u);
  EXPECT_EQ(defaults.laterClientWaitMs, 1000u);
}

TEST(AutoProxyResult, StepInTheHighWordErrorInTheLowWord) {
  struct Row {
    AutoProxyStep step;
    std::uint32_t error;
    std::int64_t code;
  } rows[] = {
      {AutoProxyStep::OpenSession, 0, 0x100000000LL},
      {AutoProxyStep::OpenSession, 12004, 0x100000000LL + 12004},
      {AutoProxyStep::GetProxy, 12180, 0x200000000LL + 12180},  // ERROR_WINHTTP_AUTODETECTION_FAILED
      {AutoProxyStep::GetProxy, 12167, 0x200000000LL + 12167},  // ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT
      // A code with the high bit set stays in the low word.
      {AutoProxyStep::OpenSession, 0xFFFFFFFF, 0x1FFFFFFFFLL},
      {AutoProxyStep::GetProxy, 0x80000000, 0x280000000LL},
  };
  for (const auto& row : rows) EXPECT_EQ(autoProxyFailure(row.step, row.error), row.code) << row.error;
  EXPECT_EQ(kProxyUnavailable, 100000);
  EXPECT_EQ(std::wstring(booleanText(true)), L"true");
  EXPECT_EQ(std::wstring(booleanText(false)), L"false");
}
