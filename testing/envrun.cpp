// Runs a program under a controlled environment for the end-to-end tests, and answers the
// dialogs it shows. Wine replaces TEMP/TMP and PATH from its own registry, so tests cannot
// set them from the Unix side; this runner sets them inside Windows.
//
//   envrun.exe SCRIPT
// SCRIPT is a UTF-8 file of lines:
//   set NAME=VALUE     set a variable          unset NAME     remove a variable
//   cwd DIR            working directory       cmd LINE       the exact command line to run
//   dialogs FILE       record every dialog box of the child (caption, texts) in FILE
//   answer ok|yes|no|cancel   how to close those dialogs (default ok, then cancel)
//   reply CAPTION|ANSWER      answers in order, before the `answer` rule: the next dialog whose
//                             caption starts with CAPTION gets ANSWER alone (ok, yes, no, cancel,
//                             a command id, or file:NAME typed into an open-file dialog and
//                             confirmed); a dialog may be answered again by a later reply once
//                             it is enabled again
//   stats FILE         write the child's peak working set (bytes) to FILE at its end
//   progress FILE      record the child's progress dialog (class "MyDialogClass") in FILE:
//                      "shown X Y W H desktop W H", "range LO HI", "pos N", "hidden",
//                      "box OWNERCLASS" for each dialog box (with its owner's class or
//                      "none"), "pressed KEY", and at the end "marker N|absent" for the
//                      child's value HKCU\SOFTWARE\larkfield\jarwrap\InstallStarted_<pid>.
//                      That value is deleted at the end of every run, recorded or not.
//   controls FILE      record every control of each dialog box and of the progress dialog when
//                      it is first seen visible: "window CLASS|CAPTION", then one line per child
//                      "control CLASS ID visible|hidden|TEXT" (a static icon's text left out)
//   press escape|enter|cancel POS   once the progress dialog is visible with its bar at
//                      POS or beyond: a key press on its Cancel button, or a click on it;
//                      POS "download": once the status line (1002) is visible and the bar
//                      has moved since it appeared (bytes of a download have arrived)
// Standard handles are inherited; the exit code is the child's.

// clang-format off
#include <windows.h>
#include <psapi.h>  // needs windows.h first
// clang-format on

#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring fromUtf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n);
  return out;
}

std::string toUtf8(const std::wstring& s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

struct DialogWatch {
  DWORD pid = 0;
  std::wstring file;
  int answer = IDOK;
  std::set<HWND> seen;
  std::wstring progressFile;
  std::wstring controlsFile;
  std::deque<std::pair<std::wstring, std::wstring>> replies;  // caption prefix, answer
  std::map<HWND, DWORD> replied;                              // when each dialog got its last reply
};

struct ProgressWatch {
  HWND dialog = nullptr;
  bool visible = false;
  bool recorded = false;  // its controls, once
  int low = -1, high = -1, pos = -1;
  std::string press;  // escape, enter, cancel; empty once done
  int pressAt = 0;
  bool pressInDownload = false;
  int posAtStatus = -2;  // the bar when the status line appeared; -2 before
};

void note(const std::wstring& file, const std::string& line) {
  if (file.empty()) return;
  FILE* f = _wfopen(file.c_str(), L"ab");
  if (f) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

int answerId(const std::wstring& answer) {
  if (answer == L"yes") return IDYES;
  if (answer == L"no") return IDNO;
  if (answer == L"cancel") return IDCANCEL;
  if (!answer.empty() && answer[0] >= L'0' && answer[0] <= L'9') return _wtoi(answer.c_str());
  return IDOK;
}

// Types a file name into an open-file dialog (its name box is a combo box, cmb13, or an edit
// field, edt1) and confirms it.
void typeFileName(HWND dialog, const std::wstring& name) {
  HWND box = GetDlgItem(dialog, 0x47c);
  HWND edit = box ? FindWindowExW(box, nullptr, L"Edit", nullptr) : nullptr;
  if (!edit) edit = GetDlgItem(dialog, 0x480);
  if (!edit) edit = box;
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

std::string escape(const std::wstring& text) {
  std::string out;
  for (char c : toUtf8(text)) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '|')
      out += "\\|";
    else
      out += c;
  }
  return out;
}

BOOL CALLBACK collectChild(HWND child, LPARAM param) {
  auto* texts = reinterpret_cast<std::vector<std::wstring>*>(param);
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  if (_wcsicmp(cls, L"Static") != 0) return TRUE;
  // An icon's window text is its resource ordinal, no text.
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return TRUE;
  int n = GetWindowTextLengthW(child);
  std::wstring text(n + 1, L'\0');
  GetWindowTextW(child, text.data(), n + 1);
  text.resize(n);
  if (!text.empty()) texts->push_back(text);
  return TRUE;
}

// The window's caption and each child control: class, id, visibility and text.
void recordControls(const std::wstring& file, HWND window) {
  if (file.empty()) return;
  auto textOf = [](HWND w) {
    int n = GetWindowTextLengthW(w);
    std::wstring text(n + 1, L'\0');
    GetWindowTextW(w, text.data(), n + 1);
    text.resize(n);
    return text;
  };
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  std::vector<std::string> lines{"window " + toUtf8(cls) + "|" + escape(textOf(window))};
  std::pair<std::vector<std::string>*, decltype(textOf)*> out{&lines, &textOf};
  EnumChildWindows(
      window,
      [](HWND child, LPARAM param) -> BOOL {
        auto* o = reinterpret_cast<decltype(out)*>(param);
        wchar_t childClass[64] = {};
        GetClassNameW(child, childClass, 64);
        bool icon = _wcsicmp(childClass, L"Static") == 0 &&
                    (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        o->first->push_back("control " + toUtf8(childClass) + " " + std::to_string(GetDlgCtrlID(child)) + " " +
                            (IsWindowVisible(child) ? "visible|" : "hidden|") +
                            (icon ? std::string() : escape((*o->second)(child))));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  for (const auto& l : lines) note(file, l);
}

BOOL CALLBACK visitTop(HWND window, LPARAM param) {
  auto* watch = reinterpret_cast<DialogWatch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != watch->pid) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (wcscmp(cls, L"#32770") != 0) return TRUE;
  // A dialog becomes visible only after its controls exist; read it then.
  if (!IsWindowVisible(window)) return TRUE;
  int n = GetWindowTextLengthW(window);
  std::wstring caption(n + 1, L'\0');
  GetWindowTextW(window, caption.data(), n + 1);
  caption.resize(n);
  // The next reply goes to the first dialog its caption fits; a dialog answered before gets
  // another only when it takes input again, and not within 300 ms of the last.
  bool replying = !watch->replies.empty() && caption.rfind(watch->replies.front().first, 0) == 0;
  if (replying && watch->replied.count(window))
    replying = IsWindowEnabled(window) && GetTickCount() - watch->replied[window] > 300;
  if (!replying && (watch->seen.count(window) || !watch->replies.empty())) return TRUE;
  watch->seen.insert(window);
  recordControls(watch->controlsFile, window);
  std::vector<std::wstring> texts;
  EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&texts));
  std::string line = escape(caption);
  for (const auto& t : texts) line += "|" + escape(t);
  wchar_t ownerClass[64] = L"none";
  if (HWND owner = GetWindow(window, GW_OWNER)) GetClassNameW(owner, ownerClass, 64);
  note(watch->progressFile, "box " + toUtf8(ownerClass));
  if (!watch->file.empty()) {
    FILE* f = _wfopen(watch->file.c_str(), L"ab");
    if (f) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
  if (replying) {
    std::wstring answer = watch->replies.front().second;
    watch->replies.pop_front();
    watch->replied[window] = GetTickCount();
    if (answer.rfind(L"file:", 0) == 0)
      typeFileName(window, answer.substr(5));
    else
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(answerId(answer), BN_CLICKED), 0);
    return FALSE;  // one reply per round, so that the next one waits for its dialog
  }
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(watch->answer, BN_CLICKED), 0);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  return TRUE;
}

BOOL CALLBACK findProgress(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (pid != found->first || wcscmp(cls, L"MyDialogClass") != 0) return TRUE;
  found->second = window;
  return FALSE;
}

// One look at the progress dialog: records its changes and delivers the press when due.
void watchProgress(ProgressWatch& p, const std::wstring& file, const std::wstring& controlsFile, DWORD pid) {
  std::pair<DWORD, HWND> found{pid, nullptr};
  EnumWindows(findProgress, reinterpret_cast<LPARAM>(&found));
  if (!found.second) return;
  p.dialog = found.second;
  bool visible = IsWindowVisible(p.dialog);
  if (visible && !p.visible) {
    RECT r{}, d{};
    GetWindowRect(p.dialog, &r);
    GetWindowRect(GetDesktopWindow(), &d);
    note(file, "shown " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                   std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top) + " desktop " +
                   std::to_string(d.right - d.left) + " " + std::to_string(d.bottom - d.top));
  }
  if (visible && !p.visible && !p.recorded) {
    recordControls(controlsFile, p.dialog);
    p.recorded = true;
  }
  if (!visible && p.visible) note(file, "hidden");
  p.visible = visible;
  if (!visible) return;
  HWND bar = GetDlgItem(p.dialog, 1001);
  DWORD_PTR low = 0, high = 0, pos = 0;
  if (!SendMessageTimeoutW(bar, 0x0407 /* PBM_GETRANGE */, TRUE, 0, SMTO_ABORTIFHUNG, 1000, &low) ||
      !SendMessageTimeoutW(bar, 0x0407, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &high) ||
      !SendMessageTimeoutW(bar, 0x0408 /* PBM_GETPOS */, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos))
    return;
  if (int(low) != p.low || int(high) != p.high) {
    p.low = int(low);
    p.high = int(high);
    note(file, "range " + std::to_string(p.low) + " " + std::to_string(p.high));
  }
  if (int(pos) != p.pos) {
    p.pos = int(pos);
    note(file, "pos " + std::to_string(p.pos));
  }
  bool due = p.pos >= p.pressAt;
  if (p.pressInDownload) {
    if (p.posAtStatus == -2 && IsWindowVisible(GetDlgItem(p.dialog, 1002))) p.posAtStatus = p.pos;
    due = p.posAtStatus != -2 && p.pos != p.posAtStatus;
  }
  if (!p.press.empty() && due) {
    HWND button = GetDlgItem(p.dialog, IDCANCEL);
    if (p.press == "cancel") {
      PostMessageW(p.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    } else {
      // The key goes to the focused control, as a keyboard would send it; the dialog's
      // message loop turns Escape and Enter into commands.
      WPARAM key = p.press == "escape" ? VK_ESCAPE : VK_RETURN;
      PostMessageW(button, WM_KEYDOWN, key, 1);
      PostMessageW(button, WM_KEYUP, key, LPARAM(0xC0000001));
    }
    note(file, "pressed " + p.press + " at " + std::to_string(p.pos));
    p.press.clear();
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: envrun SCRIPT\n");
    return 120;
  }
  std::ifstream script(argv[1], std::ios::binary);
  if (!script) {
    std::fprintf(stderr, "envrun: cannot read script\n");
    return 121;
  }
  std::wstring cmd, cwd, statsFile;
  DialogWatch watch;
  ProgressWatch progress;
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::wstring rest = space == std::string::npos ? L"" : fromUtf8(line.substr(space + 1));
    if (verb == "set") {
      std::size_t eq = rest.find(L'=');
      SetEnvironmentVariableW(rest.substr(0, eq).c_str(),
                              eq == std::wstring::npos ? L"" : rest.substr(eq + 1).c_str());
    } else if (verb == "unset") {
      SetEnvironmentVariableW(rest.c_str(), nullptr);
    } else if (verb == "cwd") {
      cwd = rest;
    } else if (verb == "cmd") {
      cmd = rest;
    } else if (verb == "stats") {
      statsFile = rest;
    } else if (verb == "dialogs") {
      watch.file = rest;
    } else if (verb == "reply") {
      std::size_t bar = rest.find(L'|');
      if (bar != std::wstring::npos) watch.replies.emplace_back(rest.substr(0, bar), rest.substr(bar + 1));
    } else if (verb == "progress") {
      watch.progressFile = rest;
    } else if (verb == "controls") {
      watch.controlsFile = rest;
    } else if (verb == "press") {
      std::size_t blank = rest.find(L' ');
      progress.press = toUtf8(rest.substr(0, blank));
      progress.pressAt =
          blank == std::wstring::npos ? 0 : int(std::wcstol(rest.c_str() + blank + 1, nullptr, 10));
      progress.pressInDownload = blank != std::wstring::npos && rest.substr(blank + 1) == L"download";
    } else if (verb == "answer") {
      watch.answer = rest == L"yes" ? IDYES : rest == L"no" ? IDNO : rest == L"cancel" ? IDCANCEL : IDOK;
    }
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
    std::fprintf(stderr, "envrun: cannot start (%lu)\n", GetLastError());
    return 122;
  }
  CloseHandle(pi.hThread);
  watch.pid = pi.dwProcessId;
  // The child's peak working set is sampled on a thread of its own: the first EnumWindows
  // can take long (under Wine it may start the desktop process), and a child that has ended
  // has no counters any more.
  struct Sampler {
    HANDLE process;
    SIZE_T peak = 0;
    static DWORD WINAPI run(LPVOID self) {
      auto* s = static_cast<Sampler*>(self);
      do {
        PROCESS_MEMORY_COUNTERS counters{};
        if (K32GetProcessMemoryInfo(s->process, &counters, sizeof counters) &&
            counters.PeakWorkingSetSize > s->peak)
          s->peak = counters.PeakWorkingSetSize;
      } while (WaitForSingleObject(s->process, 20) == WAIT_TIMEOUT);
      return 0;
    }
  } sampler{pi.hProcess};
  HANDLE samplerThread =
      statsFile.empty() ? nullptr : CreateThread(nullptr, 0, Sampler::run, &sampler, 0, nullptr);
  // Poll for the child's dialogs until it ends; each dialog is recorded once and closed.
  // The progress dialog is looked at before the dialog boxes are answered: an answer may end
  // the run, and with it the progress dialog while its controls are recorded.
  while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
    if (!watch.progressFile.empty() || !progress.press.empty() || !watch.controlsFile.empty())
      watchProgress(progress, watch.progressFile, watch.controlsFile, watch.pid);
    EnumWindows(visitTop, reinterpret_cast<LPARAM>(&watch));
  }
  {
    DWORD value = 0, size = sizeof value;
    std::wstring name = L"InstallStarted_" + std::to_wstring(watch.pid);
    bool found = RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\larkfield\\jarwrap", name.c_str(),
                              RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
    if (!watch.progressFile.empty())
      note(watch.progressFile, "marker " + (found ? std::to_string(value) : std::string("absent")));
    // The value is named by a process id that a later process may get again: left behind (a
    // fatal end keeps it on purpose) it would show up as that later process's marker.
    if (found) RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\larkfield\\jarwrap", name.c_str());
  }
  if (samplerThread) {
    WaitForSingleObject(samplerThread, INFINITE);
    CloseHandle(samplerThread);
  }
  const SIZE_T peak = sampler.peak;
  if (!statsFile.empty()) {
    FILE* f = _wfopen(statsFile.c_str(), L"wb");
    if (f) {
      std::fprintf(f, "peak_working_set=%llu\n", static_cast<unsigned long long>(peak));
      std::fclose(f);
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return int(code);
}
