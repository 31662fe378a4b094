#include "jvm/launch/OptionSources.h"

#include "core/CommandLine.h"

namespace shipkit::jvm {

std::vector<RawOptionLine> splitOptionLines(std::string_view text) {
  std::vector<RawOptionLine> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t lf = text.find('\n', pos);
    std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    RawOptionLine line;
    if (end - pos > kOptionsLineMax) {
      std::size_t lineEnd = lf == std::string_view::npos ? text.size() : lf;
      end = pos + kOptionsLineMax;
      // Only a line end (CR or LF) beyond the limit is no cut: the line is complete.
      line.cut = text.substr(end, lineEnd - end).find_first_not_of('\r') != std::string_view::npos;
    }
    line.text = text.substr(pos, end - pos);
    lines.push_back(line);
    pos = end;
  }
  return lines;
}

std::optional<std::string_view> optionLineContent(std::string_view raw) {
  // The line is handled as a C string by the JVM in the end: nothing after a NUL survives.
  raw = raw.substr(0, raw.find('\0'));
  while (!raw.empty() && (raw.back() == '\r' || raw.back() == '\n')) raw.remove_suffix(1);
  while (!raw.empty() && raw.front() == ' ') raw.remove_prefix(1);
  while (!raw.empty() && raw.back() == ' ') raw.remove_suffix(1);
  if (raw.empty() || raw.front() == '#') return std::nullopt;
  return raw;
}

std::vector<std::wstring> optionWords(std::wstring_view text) {
  std::vector<std::wstring> words;
  core::splitCommandLine(text, words);
  std::vector<std::wstring> joined;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == L"-include-options" && i + 1 < words.size()) {
      joined.push_back(words[i] + L" " + words[i + 1]);
      ++i;
    } else {
      joined.push_back(std::move(words[i]));
    }
  }
  return joined;
}

std::vector<std::string_view> splitPathList(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t semi = text.find(';', pos);
    if (semi == std::string_view::npos) semi = text.size();
    if (semi > pos) pieces.push_back(text.substr(pos, semi - pos));
    pos = semi + 1;
  }
  return pieces;
}

std::vector<PathEntry> parsePathEntries(std::string_view text) {
  std::vector<PathEntry> entries;
  for (std::string_view piece : splitPathList(text)) {
    PathEntry e;
    e.text = piece;
    if (piece.size() >= 2) {
      e.valid = true;
      e.type = piece[0];
      e.required = piece[1] == '1';
      e.value = piece.substr(2);
    }
    entries.push_back(e);
  }
  return entries;
}

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  out += name;
  return out;
}

std::wstring optionsFileBesideExe(std::wstring_view exePath) {
  std::wstring_view stem = exePath.substr(0, exePath.size() >= 4 ? exePath.size() - 4 : 0);
  return std::wstring(stem) + L".vmoptions";
}

std::wstring optionsFileAppended(std::wstring_view exePath) {
  return std::wstring(exePath) + L".vmoptions";
}

void joinSplitModuleOptions(std::vector<std::string>& options) {
  static constexpr std::string_view kSplitOptions[] = {
      "--upgrade-module-path", "--add-modules", "--limit-modules", "--add-exports",
      "--add-opens",           "--add-reads",   "--patch-module"};
  std::vector<std::string> out;
  out.reserve(options.size());
  for (std::size_t i = 0; i < options.size(); ++i) {
    bool split = false;
    for (std::string_view name : kSplitOptions) split = split || options[i] == name;
    if (split && i + 1 < options.size()) {
      out.push_back(options[i] + "=" + options[i + 1]);
      ++i;
    } else {
      out.push_back(std::move(options[i]));
    }
  }
  options = std::move(out);
}

}  // namespace shipkit::jvm
