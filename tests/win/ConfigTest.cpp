// Configuration and message accessors over the process-wide tables.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestFiles.h"
#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"

using namespace shipkit::core;

namespace {

class ConfigTables : public testing::Test {
 protected:
  void SetUp() override { saved_ = tables(); }
  void TearDown() override { tables() = saved_; }
  Tables saved_;
};


}  // namespace

TEST_F(ConfigTables, IntegersBlanksSignsAndHex) {
  tables().config = {{1, " 7"}, {2, "-1"}, {3, "0x10"}, {4, ""}, {5, "12 monkeys"}};
  EXPECT_EQ(configInt(1), 7);
  EXPECT_EQ(configInt(2), -1);
  EXPECT_EQ(configInt(3), 0);
  EXPECT_EQ(configInt(4), 0);
  EXPECT_EQ(configInt(5), 12);
  EXPECT_EQ(configInt(999), 0);
}

TEST_F(ConfigTables, EmptyEntryIsPresentButEmpty) {
  tables().config = {{9, ""}};
  EXPECT_TRUE(configPresent(9));
  EXPECT_FALSE(configPresent(10));
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(configString(9, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ConfigTables, TruncationCopiesCapacityLessOneAndLogs) {
  tables().config = {{4242, "ab"}};
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(configString(4242, buffer, 2), 1);
  EXPECT_EQ(buffer[0], 'a');
  EXPECT_EQ(buffer[1], '\0');
  EXPECT_EQ(buffer[2], 'x') << "nothing is written past the capacity";
  EXPECT_NE(wintest::logText().find("] ERROR: config string 4242 truncated (2 2)\r\n"), std::string::npos);
  // A value that fits exactly is not cut.
  EXPECT_EQ(configString(4242, buffer, 3), 2);
  EXPECT_EQ(std::string(buffer), "ab");
}

TEST_F(ConfigTables, WideningIsByteForUnit) {
  tables().config = {{146, "C:\\Caf\xE9"}};
  EXPECT_EQ(configWString(146), L"C:\\Caf\u00e9");
  EXPECT_EQ(configWString(146, 3), L"C:");
}

TEST_F(ConfigTables, MessagesFallBackToConfigurationAndSubstituteOnce) {
  tables().config = {{1009, "config text {0}"}, {77, "only config"}};
  tables().messages = {{1009, u"An internal error occurred (error code: {0}) {0}"}};
  std::wstring arg = L"34";
  EXPECT_EQ(shipkit::core::formatMessage(1009, &arg), L"An internal error occurred (error code: 34) {0}");
  EXPECT_EQ(messageOrConfig(77), L"only config");
  EXPECT_EQ(shipkit::core::formatMessage(77), L"only config");
  EXPECT_EQ(message(77), L"");
  tables() = Tables{};
  EXPECT_EQ(messageOrConfig(1000), L"") << "before the container is read every text is empty";
}

TEST_F(ConfigTables, LongMessagesAreCutTo5999Units) {
  tables().messages = {{5, std::u16string(7000, u'm')}};
  EXPECT_EQ(message(5).size(), 5999u);
}
