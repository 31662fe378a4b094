#include "core/CommandLine.h"

#include <algorithm>

namespace shipkit::core {

void splitCommandLine(std::wstring_view text, std::vector<std::wstring>& words) {
  std::size_t pos = 0;
  const std::size_t npos = std::wstring_view::npos;
  while (pos < text.size()) {
    if (text[pos] == L' ') {
      ++pos;
      continue;
    }
    std::size_t blank = text.find(L' ', pos);
    std::size_t dquote = text.find(L'"', pos);
    std::size_t squote = text.find(L'\'', pos);
    std::size_t quote = std::min(dquote, squote);
    if (quote == npos || (blank != npos && blank < quote)) {
      if (blank == npos) {
        words.emplace_back(text.substr(pos));
        return;
      }
      words.emplace_back(text.substr(pos, blank - pos));
      pos = blank + 1;
      continue;
    }
    const wchar_t quoteChar = text[quote];
    std::wstring word(text.substr(pos, quote - pos));
    std::size_t close = text.find(quoteChar, quote + 1);
    if (close == npos) {
      word.append(text.substr(quote + 1));
      words.push_back(std::move(word));
      return;
    }
    word.append(text.substr(quote + 1, close - quote - 1));
    words.push_back(std::move(word));
    pos = close + 1;
    if (pos < text.size() && text[pos] == L' ') ++pos;
  }
}

bool takeLogSwitch(std::vector<std::wstring>& args) {
  if (args.size() < 2) return false;
  const std::wstring& a = args[1];
  if (a == L"-create-skt-log" || a == L"-create-jwr-log" || a == L"/create-skt-log" ||
      a == L"/create-jwr-log") {
    args.erase(args.begin() + 1);
    return true;
  }
  return false;
}

void takeTempSwitch(std::vector<std::wstring>& args, const std::function<bool(const std::wstring&)>& tryDir) {
  auto it = std::find_if(args.begin(), args.end(),
                         [](const std::wstring& a) { return a == L"-temp" || a == L"/temp"; });
  if (it == args.end()) return;
  auto next = it + 1;
  if (next == args.end() || next->empty()) {
    args.erase(it);
    return;
  }
  if (!tryDir(*next)) args.erase(it, next + 1);
}

RunSwitches parseRunSwitches(const std::vector<std::wstring>& args) {
  RunSwitches s;
  for (const auto& a : args) {
    if (a == L"-q") {
      s.quiet = true;
      s.messageBoxOff = true;
    } else if (a == L"-console") {
      s.console = true;
    } else if (a == L"-splash") {
      s.splash = true;
    } else if (a == L"-nocheck") {
      s.integrityCheck = false;
    } else if (a == L"-c") {
      s.quiet = true;
      s.messageBoxOff = true;
      s.console = true;
    } else if (a == L"-manual" || a == L"/manual") {
      s.manual = true;
    }
  }
  return s;
}

}  // namespace shipkit::core
