// The decisions of the service and account natives: account mapping, dependency lists,
// failure actions, the stop wait in wrapping tick arithmetic, and the account result texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "natives/accounts/AccountRules.h"
#include "natives/services/ServiceRules.h"

using namespace shipkit::natives;

namespace {

std::string shown(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c == L'\0' ? std::string("\\0") : std::string(1, char(c));
  return out;
}

}  // namespace

TEST(ServiceRules, AccountMapping) {
  struct Row {
    std::optional<std::wstring_view> in;
    std::optional<std::wstring> out;
  } rows[] = {
      {std::nullopt, std::nullopt},
      {L"NT AUTHORITY\\System", L"LocalSystem"},
      {L"NT AUTHORITY\\LocalSystem", L"LocalSystem"},
      {L"nt authority\\localsystem", L"nt authority\\localsystem"},
      {L"NT AUTHORITY\\SYSTEM", L"NT AUTHORITY\\SYSTEM"},
      {L"NT AUTHORITY\\LocalService", L"NT AUTHORITY\\LocalService"},
      {L"NT AUTHORITY\\System ", L"NT AUTHORITY\\System "},
      {L".\\svcuser", L".\\svcuser"},
      {L"", L""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(serviceAccount(row.in), row.out) << (row.in ? shown(std::wstring(*row.in)) : "null");
}

TEST(ServiceRules, DependencyList) {
  struct Row {
    std::wstring_view in;
    std::wstring out;
  } rows[] = {
      {L"", std::wstring(L"\0\0", 2)},
      {L",", std::wstring(L"\0\0", 2)},
      {L",,,", std::wstring(L"\0\0", 2)},
      {L"a", std::wstring(L"a\0\0", 3)},
      {L"a,,b", std::wstring(L"a\0b\0\0", 5)},
      {L",a,b,", std::wstring(L"a\0b\0\0", 5)},
      {L"Tcpip,+NetworkProvider", std::wstring(L"Tcpip\0+NetworkProvider\0\0", 24)},
      {L" a , b", std::wstring(L" a \0 b\0\0", 8)},
  };
  for (const auto& row : rows)
    EXPECT_EQ(shown(dependencyList(row.in)), shown(row.out)) << shown(std::wstring(row.in));
}

TEST(ServiceRules, DependencyListLongerThanEightThousandUnitsIsKeptWhole) {
  std::wstring names;
  for (int i = 0; i < 3000; ++i) names += L"dep" + std::to_wstring(i) + L",";
  const std::wstring list = dependencyList(names);
  ASSERT_GT(list.size(), 8192u);
  EXPECT_EQ(list.substr(list.size() - 9), std::wstring(L"dep2999\0\0", 9));
  EXPECT_EQ(std::count(list.begin(), list.end(), L'\0'), 3001);
}

TEST(ServiceRules, FailureActions) {
  using A = FailureAction;
  struct Row {
    const char* name;
    bool restart;
    int delay, count, reset;
    std::vector<A> actions;
    std::uint32_t resetOut;
  } rows[] = {
      {"ThreeRestartsThenNothing",
       true,
       60000,
       3,
       86400,
       {{A::Restart, 60000}, {A::Restart, 60000}, {A::Restart, 60000}, {A::None, 60000}},
       86400},
      {"CountZeroIsOneRestart", true, 1000, 0, 0, {{A::Restart, 1000}}, 0},
      {"NegativeCountIsOneRestart", true, 1000, -5, 0, {{A::Restart, 1000}}, 0},
      {"OneRestart", true, 0, 1, 10, {{A::Restart, 0}, {A::None, 0}}, 10},
      {"NoRestartClears", false, 60000, 3, 86400, {}, 86400},
      {"NoRestartCountZero", false, 0, 0, 0, {}, 0},
      {"NegativeDelayIsUnsigned", true, -1, 0, -1, {{A::Restart, 0xFFFFFFFFu}}, 0xFFFFFFFFu},
  };
  for (const auto& row : rows) {
    FailureActions fa = failureActions(row.restart, row.delay, row.count, row.reset);
    EXPECT_EQ(fa.actions, row.actions) << row.name;
    EXPECT_EQ(fa.resetPeriodSeconds, row.resetOut) << row.name;
  }
}

TEST(ServiceRules, StopWait) {
  using V = StopWait::Verdict;
  struct Query {
    std::uint32_t now;
    bool stopped;
    std::uint32_t checkPoint, waitHint;
    V verdict;
  };
  struct Row {
    const char* name;
    std::uint32_t start, checkPoint, timeout;
    std::vector<Query> queries;
  } rows[] = {
      {"StopsWithinTheHintWithTimeoutZero",
       1000,
       0,
       0,
       {{1500, false, 0, 3000, V::KeepWaiting}, {2000, true, 0, 3000, V::Stopped}}},
      {"HintAndTimeoutBothRunOut", 1000, 0, 0, {{1500, false, 0, 100, V::TimedOut}}},
      {"TimeoutKeepsTheWaitAfterTheHint",
       1000,
       0,
       2000,
       {{1500, false, 0, 100, V::KeepWaiting},
        {3000, false, 0, 100, V::KeepWaiting},
        {3001, false, 0, 100, V::TimedOut}}},
      {"HintBoundaryIsInclusive",
       0,
       0,
       0,
       {{500, false, 0, 500, V::KeepWaiting}, {501, false, 0, 500, V::TimedOut}}},
      {"ProgressExtendsTheWait",
       0,
       1,
       0,
       {{500, false, 2, 100, V::KeepWaiting},
        {1000, false, 3, 100, V::KeepWaiting},
        {1500, false, 4, 100, V::KeepWaiting},
        {1600, false, 4, 100, V::KeepWaiting},
        {1601, false, 4, 100, V::TimedOut}}},
      {"ACheckPointGoingBackIsNoProgress", 0, 5, 0, {{500, false, 3, 100, V::TimedOut}}},
      {"StoppedAfterEverythingRanOutIsStillStopped", 0, 0, 0, {{100000, true, 0, 0, V::Stopped}}},
      {"TickCountWrapsAround",
       0xFFFFFF00u,
       0,
       0x200,
       {{0x00000050u, false, 0, 0, V::KeepWaiting},
        {0x00000100u, false, 0, 0, V::KeepWaiting},
        {0x00000101u, false, 0, 0, V::TimedOut}}},
      {"ProgressAcrossTheWrap",
       0xFFFFFFF0u,
       0,
       0,
       {{0x10u, false, 1, 0x20, V::KeepWaiting},
        {0x30u, false, 1, 0x20, V::KeepWaiting},
        {0x31u, false, 1, 0x20, V::TimedOut}}},
      {"NegativeTimeoutFromJavaWaitsVeryLong",
       0,
       0,
       0xFFFFFFFFu,
       {{0x7FFFFFFFu, false, 0, 0, V::KeepWaiting}}},
  };
  for (const auto& row : rows) {
    StopWait wait(row.start, row.checkPoint, row.timeout);
    for (std::size_t i = 0; i < row.queries.size(); ++i) {
      const Query& q = row.queries[i];
      EXPECT_EQ(wait.next(q.now, q.stopped, q.checkPoint, q.waitHint), q.verdict)
          << row.name << " query " << i;
    }
  }
}

TEST(AccountRules, WellKnownAndBuiltinSids) {
  struct Row {
    std::wstring_view sid;
    std::optional<std::wstring_view> name;
    bool builtin;
  } rows[] = {
      {L"S-1-5-18", L"NT AUTHORITY\\System", false},
      {L"S-1-5-19", L"NT AUTHORITY\\LocalService", false},
      {L"S-1-5-20", L"NT AUTHORITY\\NetworkService", false},
      {L"s-1-5-18", std::nullopt, false},
      {L"S-1-5-18 ", std::nullopt, false},
      {L"S-1-5-180", std::nullopt, false},
      {L"S-1-5-32-544", std::nullopt, true},
      {L"S-1-5-32-", std::nullopt, true},
      {L"S-1-5-32", std::nullopt, false},
      {L"s-1-5-32-544", std::nullopt, false},
      {L"", std::nullopt, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(wellKnownServiceAccount(row.sid), row.name) << shown(std::wstring(row.sid));
    EXPECT_EQ(isBuiltinSid(row.sid), row.builtin) << shown(std::wstring(row.sid));
  }
}

TEST(AccountRules, OnlyTextsBeginningWithSDashAreSidStrings) {
  struct Row {
    const wchar_t* text;
    AccountText form;
  } rows[] = {
      {nullptr, AccountText::None},
      {L"", AccountText::None},
      {L"S-1-1-0", AccountText::SidString},
      {L"s-1-1-0", AccountText::SidString},
      {L"S-", AccountText::SidString},
      {L"s-x", AccountText::SidString},
      // Abbreviations the SID converter would take for well-known groups.
      {L"WD", AccountText::Name},
      {L"wd", AccountText::Name},
      {L"AU", AccountText::Name},
      {L"SY", AccountText::Name},
      {L"BA", AccountText::Name},
      {L"S", AccountText::Name},
      {L"S1-1-0", AccountText::Name},
      {L" S-1-1-0", AccountText::Name},
      {L"Administrators", AccountText::Name},
      {L"CORP\\jo", AccountText::Name},
  };
  for (const auto& row : rows)
    EXPECT_EQ(accountTextForm(row.text), row.form) << (row.text ? shown(row.text) : "null");
}

TEST(AccountRules, AccountNameAndLogonDomain) {
  struct Row {
    std::wstring_view sid, name, domain;
    bool nameOnly;
    std::wstring text, logon;
  } rows[] = {
      {L"S-1-5-32-544", L"Administrators", L"BUILTIN", false, L".\\Administrators", L"."},
      {L"S-1-5-32-544", L"Administrators", L"BUILTIN", true, L"Administrators", L"."},
      {L"S-1-5-21-1-2-3-1001", L"jo", L"CORP", false, L"CORP\\jo", L"CORP"},
      {L"S-1-5-21-1-2-3-1001", L"jo", L"", false, L".\\jo", L"."},
      {L"S-1-5-21-1-2-3-1001", L"jo", L"CORP", true, L"jo", L"CORP"},
      {L"S-1-1-0", L"Everyone", L"", false, L".\\Everyone", L"."},
      {L"s-1-5-32-545", L"Users", L"BUILTIN", false, L"BUILTIN\\Users", L"BUILTIN"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(accountNameText(row.sid, row.name, row.domain, row.nameOnly), row.text) << shown(row.text);
    EXPECT_EQ(logonDomain(row.sid, row.domain), row.logon) << shown(row.text);
  }
}

TEST(AccountRules, ResultTexts) {
  struct Row {
    std::wstring actual, expected;
  } rows[] = {
      {spacedCode(1060), L" 1060"},
      {spacedCode(0), L" 0"},
      {spacedCode(0x80070005u), L" -2147024891"},
      {addUserError(AddUserStep::CreateGroup, 2223), L"1 2223"},
      {addUserError(AddUserStep::ReadGroup, 2220), L"6 2220"},
      {addUserError(AddUserStep::ReadUser, 2221), L"3 2221"},
      {addUserError(AddUserStep::AddToGroup, 5), L"4 5"},
      {addUserParameterError(2224, 0), L"2 2224 0"},
      {addUserParameterError(87, 3), L"2 87 3"},
      {addUserSidError(), L"5"},
      {addUserSuccess(L"S-1-5-21-1-2-3-1001", std::nullopt, true), L"S-1-5-21-1-2-3-1001"},
      {addUserSuccess(L"S-1-5-21-1-2-3-1001", L"S-1-5-21-1-2-3-1002", true),
       L"S-1-5-21-1-2-3-1001 S-1-5-21-1-2-3-1002 true"},
      {addUserSuccess(L"S-1-5-21-1-2-3-1001", L"S-1-5-32-545", false),
       L"S-1-5-21-1-2-3-1001 S-1-5-32-545 false"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.actual, row.expected) << shown(row.expected);
}

TEST(AccountRules, StatusClasses) {
  for (std::uint32_t s : {2223u, 1379u}) EXPECT_TRUE(groupExistsStatus(s)) << s;
  for (std::uint32_t s : {0u, 1378u, 2224u, 5u}) EXPECT_FALSE(groupExistsStatus(s)) << s;
  for (std::uint32_t s : {0u, 1378u}) EXPECT_TRUE(memberAddedStatus(s)) << s;
  for (std::uint32_t s : {1379u, 1387u, 5u, 2220u}) EXPECT_FALSE(memberAddedStatus(s)) << s;
}
