#include "cleanup/DeletionList.h"

#include <set>

namespace shipkit::cleanup {

std::vector<std::wstring> splitListFile(std::string_view bytes) {
  std::vector<std::wstring> lines;
  std::wstring line;
  bool ended = false;  // the current line met a NUL: the rest up to LF is dropped
  bool pending = false;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const wchar_t unit = wchar_t(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    if (i == 0 && unit == 0xFEFF) continue;
    pending = true;
    if (unit == L'\n') {
      while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n')) line.pop_back();
      lines.push_back(std::move(line));
      line.clear();
      ended = pending = false;
    } else if (unit == 0) {
      ended = true;
    } else if (!ended) {
      line += unit;
    }
  }
  if (pending) {
    while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n')) line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

namespace {

bool startsWith(const std::wstring& text, std::wstring_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool isTempDirPath(const std::wstring& path) {
  return path.find(L"jwr") != std::wstring::npos && path.find(L".tmp_dir") != std::wstring::npos;
}

}  // namespace

std::vector<std::wstring> listedDirectories(const std::vector<std::wstring>& lines) {
  std::vector<std::wstring> dirs;
  int section = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) {
      ++section;
    } else if (section == 0) {
      section = 1;
    } else if (section == 1) {
      // The keyword, then the two texts, each ended by a line beginning with "EOSMARKER".
      for (int done = 0; done < 2 && ++i < lines.size();)
        if (startsWith(lines[i], L"EOSMARKER")) ++done;
      section = 2;
    } else if (section >= 3) {
      dirs.push_back(lines[i]);
    }
  }
  return dirs;
}

DeletionOutcome runDeletionPasses(std::vector<std::wstring> lines, DeletionEffects& effects, int maxPasses) {
  DeletionOutcome out;
  std::vector<bool> dropped(lines.size(), false);
  std::set<std::size_t> scheduledOnce;
  for (int pass = 0; pass < maxPasses; ++pass) {
    out.passes = pass + 1;
    const bool last = pass == maxPasses - 1;
    bool retry = false;
    int section = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::wstring& line = lines[i];
      if (line.empty()) {
        ++section;
        continue;
      }
      if (dropped[i]) continue;
      if (section == 0) {
        effects.waitForSemaphoreRelease(line);
        section = 1;
        continue;
      }
      if (section == 1) {
        out.force = line == L"force_reboot";
        out.mayReboot = out.force || line == L"reboot_deletion";
        std::wstring texts[2];
        int done = 0;
        while (done < 2 && ++i < lines.size()) {
          if (startsWith(lines[i], L"EOSMARKER")) {
            ++done;
          } else {
            if (!texts[done].empty()) texts[done] += L'\n';
            texts[done] += lines[i];
          }
        }
        if (pass == 0) {
          out.question = texts[0];
          out.failure = texts[1];
        }
        section = 2;
        continue;
      }
      const bool isFile = section == 2;
      RemoveResult r = isFile ? effects.deleteFile(line) : effects.removeDirectory(line);
      if (r != RemoveResult::kResists) {
        dropped[i] = true;
        continue;
      }
      if (isTempDirPath(line)) {
        if (scheduledOnce.insert(i).second) effects.scheduleAtReboot(line);
        continue;
      }
      if (last && out.mayReboot && effects.scheduleAtReboot(line) && isFile) out.rebootNeeded = true;
      retry = true;
    }
    if (!retry) break;
    if (!last) effects.pause();
  }
  return out;
}

}  // namespace shipkit::cleanup
