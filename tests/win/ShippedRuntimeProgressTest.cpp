// The progress while a shipped runtime is unpacked, recorded without a window: the untar
// step at 100..200 on a GNU tar archive made at build time, and the pack200 progress thread
// at 200..300.
#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/Progress.h"
#include "jre/Pack200.h"
#include "jre/UntarGz.h"

namespace {

// Records the bar's positions, from any thread.
class RecordedProgress final : public shipkit::core::NoProgress {
 public:
  bool hasDialog() const override { return true; }
  void setPosition(int position) override {
    std::lock_guard<std::mutex> lock(mutex_);
    positions_.push_back(position);
    changed_.notify_all();
  }

  // The positions once one of at least `last` has arrived (at most 10 s).
  std::vector<int> positionsUpTo(int last) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10),
                      [&] { return !positions_.empty() && positions_.back() >= last; });
    return positions_;
  }
  std::vector<int> positions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return positions_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> positions_;
};

class RuntimeProgress : public testing::Test {
 protected:
  RecordedProgress progress_;
};

}  // namespace

TEST_F(RuntimeProgress, UntarMovesTheBarThrough100To200) {
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  std::string root = std::string(tmp) + "skt_untar_progress_" + std::to_string(GetCurrentProcessId());
  wintest::removeTree(root);
  ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
  std::string target = root + "\\jre";
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
  // The uncompressed size is the gzip trailer's last four bytes.
  std::ifstream in(PROGRESS_ARCHIVE, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string gz = bytes.str();
  ASSERT_GT(gz.size(), 4u);
  uint32_t total = 0;
  for (int i = 0; i < 4; ++i) total |= uint32_t(uint8_t(gz[gz.size() - 4 + i])) << (8 * i);
  char before[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, before);
  shipkit::jre::MemberName uncreatable;
  EXPECT_TRUE(shipkit::jre::untarGz(PROGRESS_ARCHIVE, target.c_str(), progress_, int32_t(total), uncreatable));
  char after[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_STREQ(before, after);
  // A position per regular member (eight large files) and while a member is copied slowly;
  // the fifty tiny members add no position of their own: each position is sent once.
  const std::vector<int> positions = progress_.positions();
  ASSERT_GE(positions.size(), 8u);
  ASSERT_LT(positions.size(), 50u);
  EXPECT_EQ(positions.front(), 100);
  for (std::size_t i = 1; i < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]) << i;
  EXPECT_GE(positions.back(), 180);
  EXPECT_LE(positions.back(), 200);
  for (const char* file : {"\\lib\\f8", "\\small\\s50"})
    EXPECT_NE(GetFileAttributesA((target + file).c_str()), INVALID_FILE_ATTRIBUTES) << file;
  wintest::removeTree(root);
}

TEST_F(RuntimeProgress, Pack200ThreadMovesTheBarFrom200To300InTenSteps) {
  shipkit::jre::startPack200Progress(progress_, 50);  // steps of 5 ms
  const std::vector<int> positions = progress_.positionsUpTo(300);
  shipkit::jre::stopPack200Progress();
  EXPECT_EQ(positions, (std::vector<int>{210, 220, 230, 240, 250, 260, 270, 280, 290, 300}));
}
