#pragma once
// The deletion list that the Java side writes for the deletion mode, and the passes that
// work through it; no system calls (the effects come through DeletionEffects).

#include <string>
#include <string_view>
#include <vector>

#include "core/DeletionRules.h"

namespace shipkit::cleanup {

// The lines of a list file: UTF-16LE, two bytes per unit (an odd last byte is ignored).
// A leading byte-order mark is skipped (it would otherwise become part of the semaphore
// name). Lines end at LF; every trailing CR and LF is removed; a line ends at its first NUL
// unit. Lines are kept whole, whatever their length, and empty lines are kept (they
// separate the sections).
std::vector<std::wstring> splitListFile(std::string_view bytes);

using RemoveResult = core::Removal;

// The system as the passes see it.
class DeletionEffects {
 public:
  virtual ~DeletionEffects() = default;
  virtual void waitForSemaphoreRelease(const std::wstring& name) = 0;
  virtual RemoveResult deleteFile(const std::wstring& path) = 0;
  virtual RemoveResult removeDirectory(const std::wstring& path) = 0;
  // MOVEFILE_DELAY_UNTIL_REBOOT; true when scheduled (never for a path through a link).
  virtual bool scheduleAtReboot(const std::wstring& path) = 0;
  // Between two passes.
  virtual void pause() = 0;
};

struct DeletionOutcome {
  bool force = false;         // "force_reboot"
  bool mayReboot = false;     // "force_reboot" or "reboot_deletion"
  bool rebootNeeded = false;  // a file was scheduled at reboot in the last pass
  std::wstring question;      // the reboot question text
  std::wstring failure;       // the reboot failure text
  int passes = 0;             // passes walked
};

// Walks the list up to `maxPasses` times: waits for the semaphore named by the first
// line, reads the mode keyword and the two texts, deletes the files (up to the next empty
// line) and then the directories; entries that are gone are dropped, entries that resist
// cause another pass. A resisting path containing "jwr" and ".tmp_dir" is scheduled at
// reboot at once (once) and causes no further pass; with the may-reboot flag the last pass
// schedules what still resists, and a scheduled file asks for a reboot.
DeletionOutcome runDeletionPasses(std::vector<std::wstring> lines, DeletionEffects& effects, int maxPasses);

// The directories the list names (its last section): each is the top of a tree that the
// deletion never leaves through a link.
std::vector<std::wstring> listedDirectories(const std::vector<std::wstring>& lines);

// A text of five characters or fewer counts as no text.
inline bool isShownText(const std::wstring& text) {
  return text.size() > 5;
}

}  // namespace shipkit::cleanup
