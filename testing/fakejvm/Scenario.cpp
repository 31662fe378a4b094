// The scenario: a JSON object that shapes the fake Java side for one test. Every key is
// optional; {} (or no scenario at all) gives the installer runtime's classes and a main
// method that returns at once.
//
//   "createResult": jint that JNI_CreateJavaVM returns (0 = JNI_OK creates the VM)
//   "missingClasses": ["com/jarwrap/runtime/util/WinDel", ...]       FindClass fails for them
//   "missingMethods": {"<class>": ["name" | "name(signature)", ...]}  lookups fail for them
//   "missingFields":  {"<class>": ["name", ...]}
//   "missingNatives": {"<class>": ["name" | "name(signature)", ...]}  no longer declared native
//   "natives":        {"<class>": [["name", "signature"], ...]}        replaces the declared natives
//   "classes": {"<class>": {"super": "<class>", "methods": [{"name", "signature", "static"}],
//                           "natives": [["name", "signature"]],
//                           "fields": [{"name", "signature", "static", "value"}]}}
//   "main": [steps]                    body of both launcher classes' main
//   "methodBodies": {"<class>.<method>": [steps]}   body of any Java method, e.g. initFromLauncher
//
// <class> is a slash name, or the short name of one of the fifteen native classes
// ("Registry"). Steps, each an object with one action:
//   {"print": "text"}        written to standard output at once
//   {"stderr": "text"}       written to standard error at once
//   {"throw": "text", "class": "java/lang/IllegalStateException"}   leaves the exception
//                            pending and ends the body (class defaults to RuntimeException)
//   {"exit": code}           ends the process with ExitProcess(code) after saving the report
//   {"call": "Registry.getValue0", "args": [...], "signature": "(...)...", "catch": true}
//                            calls a registered native (see valueFromJson for arguments);
//                            its record goes to "calls"; a pending exception afterwards ends
//                            the body unless "catch" clears it; with "save": "name" the
//                            result is kept, and an argument {"saved": "name"} passes it
//                            to a later call (a handle, for instance)
//   {"sleep_ms": n}          waits n ms while dispatching window messages
//   {"window": "title"}      creates a visible top-level window of this process
//   {"registry": {"key": "SOFTWARE\\...", "name": "InstallStarted_{pid}", "dword": 2}}
//                            writes a DWORD under HKEY_CURRENT_USER; {pid} is this process id
//   {"read_registry": {"key": "SOFTWARE\\...", "name": "InstallStarted_{pid}"}}
//                            records the DWORD under HKEY_CURRENT_USER (null when missing)
//   {"window": "title", "minimized": true}   the same, shown minimized
//   {"window_state": "title"}  records whether that window is minimized and in front
//   {"wait_file": "path", "timeout_ms": n}   waits (dispatching messages) until the file
//                            exists, at most n ms (default 30000); records whether it came;
//                            with "pump": false it dispatches nothing meanwhile (a hung user
//                            interface: messages sent to its windows wait)
//   {"hold": "path"}         creates or opens the file without sharing deletion and keeps it
//                            open until the process ends
//   {"write_list": "path", "lines": [...]}   writes the lines as UTF-16LE, each ending in CR LF
//   {"start": "command line", "cwd": "dir"}   starts a process and does not wait for it
//   {"comment": "..."}       ignored
// In the texts of hold, write_list and start, "{prop:NAME}" stands for the system property
// NAME, "{env:NAME}" for an environment variable and "{cwd}" for the current directory.
#include <windows.h>

#include <cstring>

#include "Text.h"
#include "Vm.h"
#include "core/JavaNames.h"

namespace fakejvm {

using nlohmann::json;

namespace {

std::wstring wide(const std::string& utf8) {
  std::u16string u = utf16FromUtf8(utf8);
  return std::wstring(u.begin(), u.end());
}

void writeHandle(DWORD which, const std::string& text) {
  HANDLE h = GetStdHandle(which);
  DWORD written = 0;
  if (h && h != INVALID_HANDLE_VALUE)
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

HWND findOwnWindow(const std::wstring& title) {
  HWND found = nullptr;
  while ((found = FindWindowExW(nullptr, found, L"FakeJvmWindow", title.c_str()))) {
    DWORD pid = 0;
    GetWindowThreadProcessId(found, &pid);
    if (pid == GetCurrentProcessId()) return found;
  }
  return nullptr;
}

std::string utf8FromWide(const std::wstring& w) {
  return utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// "name" matches every member of that name, "name(signature)" only that one.
bool memberMatches(const std::string& entry, const std::string& name, const std::string& signature) {
  size_t paren = entry.find('(');
  if (paren == std::string::npos) return entry == name;
  return entry.substr(0, paren) == name && entry.substr(paren) == signature;
}

const std::set<std::string> kScenarioKeys = {
    "createResult", "missingClasses", "missingMethods", "missingFields", "missingNatives",
    "natives",      "classes",        "main",           "methodBodies",  "comment"};

}  // namespace

ClassInfo* Vm::scenarioClass(const std::string& name) {
  std::string full = name.find('/') != std::string::npos || name.starts_with("[")
                         ? name
                         : std::string(shipkit::java::kNativePackage) + name;
  auto it = classes_.find(full);
  return it == classes_.end() ? findClass(full) : it->second.get();
}

void Vm::applyScenario(const json& s) {
  if (!s.is_object()) return;
  for (const auto& [key, value] : s.items()) {
    if (!kScenarioKeys.count(key)) scenarioError("unknown key \"" + key + "\"");
  }
  auto classFor = [&](const std::string& name) {
    ClassInfo* cls = scenarioClass(name);
    if (!cls) scenarioError("unknown class " + name);
    return cls;
  };
  auto addNatives = [&](ClassInfo& cls, const json& list) {
    for (const auto& n : list) {
      if (!n.is_array() || n.size() != 2)
        scenarioError("a native of " + cls.name + " is not [name, signature]");
      addMethod(cls, n[0].get<std::string>(), n[1].get<std::string>(), true).isNative = true;
    }
  };
  try {
    if (s.contains("classes")) {
      for (const auto& [name, def] : s["classes"].items()) {
        std::string super = def.value("super", std::string("java/lang/Object"));
        if (!scenarioClass(super)) scenarioError("class " + name + ": unknown superclass " + super);
        ClassInfo& cls = defineClass(name, super);
        for (const auto& m : def.value("methods", json::array())) {
          addMethod(cls, m.at("name").get<std::string>(), m.at("signature").get<std::string>(),
                    m.value("static", true), {}, true);
        }
        addNatives(cls, def.value("natives", json::array()));
        for (const auto& f : def.value("fields", json::array())) {
          std::string sig = f.at("signature").get<std::string>();
          Value v = f.contains("value") ? valueFromJson(f["value"], sig) : Value::none();
          addField(cls, f.at("name").get<std::string>(), sig, f.value("static", true), v);
        }
      }
    }
    if (s.contains("natives")) {
      for (const auto& [name, list] : s["natives"].items()) {
        ClassInfo* cls = classFor(name);
        for (auto& m : cls->methods) {
          if (m.isNative) m.hidden = true;
        }
        addNatives(*cls, list);
      }
    }
    auto hideMembers = [&](const char* key, bool natives) {
      if (!s.contains(key)) return;
      for (const auto& [name, list] : s[key].items()) {
        ClassInfo* cls = classFor(name);
        for (const auto& entry : list) {
          bool found = false;
          for (auto& m : cls->methods) {
            if ((!natives || m.isNative) && memberMatches(entry.get<std::string>(), m.name, m.signature)) {
              m.hidden = found = true;
            }
          }
          if (!found)
            scenarioError(std::string(key) + ": " + cls->name + " has no " + entry.get<std::string>());
        }
      }
    };
    hideMembers("missingNatives", true);
    hideMembers("missingMethods", false);
    if (s.contains("missingFields")) {
      for (const auto& [name, list] : s["missingFields"].items()) {
        ClassInfo* cls = classFor(name);
        for (const auto& entry : list) {
          bool found = false;
          for (auto& f : cls->fields) {
            if (f.name == entry.get<std::string>()) f.hidden = found = true;
          }
          if (!found) scenarioError("missingFields: " + cls->name + " has no " + entry.get<std::string>());
        }
      }
    }
    // Bodies are looked up by the full class name; the scenario may use short names.
    if (s.contains("methodBodies")) {
      json bodies = json::object();
      for (const auto& [key, steps] : s["methodBodies"].items()) {
        const size_t dot = key.rfind('.');
        if (dot == std::string::npos) scenarioError("methodBodies: \"" + key + "\" is not Class.method");
        ClassInfo* cls = classFor(key.substr(0, dot));
        const std::string method = key.substr(dot + 1);
        bool found = false;
        for (const auto& m : cls->methods) found = found || (m.name == method && !m.isNative);
        if (!found) scenarioError("methodBodies: " + cls->name + " has no method " + method);
        bodies[cls->name + "." + method] = steps;
      }
      scenario_["methodBodies"] = bodies;
    }
    for (const auto& name : s.value("missingClasses", json::array())) {
      classFor(name.get<std::string>());
      removeClass(scenarioClass(name.get<std::string>())->name);
    }
  } catch (const json::exception& e) {
    scenarioError(e.what());
  }
}

// ---------------------------------------------------------------------------------------
// Steps

void Vm::runSteps(const json& steps) {
  if (!steps.is_array()) scenarioError("steps are not a list");
  for (const json& step : steps) {
    if (!step.is_object()) scenarioError("a step is not an object: " + step.dump());
    try {
      if (step.contains("print")) {
        writeHandle(STD_OUTPUT_HANDLE, step["print"].get<std::string>());
        event({{"type", "print"}, {"text", step["print"]}});
      } else if (step.contains("stderr")) {
        writeHandle(STD_ERROR_HANDLE, step["stderr"].get<std::string>());
        event({{"type", "stderr"}, {"text", step["stderr"]}});
      } else if (step.contains("throw")) {
        std::string cls = step.value("class", std::string("java/lang/RuntimeException"));
        if (!findClass(cls)) scenarioError("throw: unknown class " + cls);
        throwNew(cls, step["throw"].get<std::string>());
        event({{"type", "throw"}, {"exception", describe(pending_)}});
        return;
      } else if (step.contains("exit")) {
        int code = step["exit"].get<int>();
        report_["exitCode"] = code;
        event({{"type", "exit"}, {"code", code}});
        ExitProcess(static_cast<UINT>(code));
      } else if (step.contains("call")) {
        callNative(step);
        if (pending_) return;
      } else if (step.contains("sleep_ms")) {
        const ULONGLONG end = GetTickCount64() + step["sleep_ms"].get<unsigned>();
        for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
          MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
          MSG msg;
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
          }
        }
        event({{"type", "sleep"}, {"ms", step["sleep_ms"]}});
      } else if (step.contains("window")) {
        static const wchar_t* kWindowClass = L"FakeJvmWindow";
        static bool registered = false;
        if (!registered) {
          WNDCLASSW wc{};
          wc.lpfnWndProc = DefWindowProcW;
          wc.hInstance = GetModuleHandleW(nullptr);
          wc.lpszClassName = kWindowClass;
          registered = RegisterClassW(&wc) != 0;
        }
        std::wstring title = wide(step["window"].get<std::string>());
        HWND hwnd = CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    320, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (hwnd) ShowWindow(hwnd, step.value("minimized", false) ? SW_MINIMIZE : SW_SHOW);
        event({{"type", "window"}, {"title", step["window"]}, {"created", hwnd != nullptr}});
      } else if (step.contains("registry")) {
        const json& r = step["registry"];
        std::string name = r.at("name").get<std::string>();
        if (size_t p = name.find("{pid}"); p != std::string::npos) {
          name.replace(p, 5, std::to_string(GetCurrentProcessId()));
        }
        std::wstring key = wide(r.at("key").get<std::string>());
        std::wstring value = wide(name);
        DWORD data = r.at("dword").get<DWORD>();
        HKEY hkey = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                         nullptr, &hkey, nullptr);
        if (status == ERROR_SUCCESS) {
          status = RegSetValueExW(hkey, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                  sizeof data);
          RegCloseKey(hkey);
        }
        event({{"type", "registry"}, {"key", r["key"]}, {"name", name}, {"dword", data}, {"status", status}});
      } else if (step.contains("read_registry")) {
        const json& r = step["read_registry"];
        std::string name = r.at("name").get<std::string>();
        if (size_t p = name.find("{pid}"); p != std::string::npos) {
          name.replace(p, 5, std::to_string(GetCurrentProcessId()));
        }
        DWORD data = 0;
        DWORD size = sizeof data;
        LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, wide(r.at("key").get<std::string>()).c_str(),
                                      wide(name).c_str(), RRF_RT_REG_DWORD, nullptr, &data, &size);
        event({{"type", "read_registry"},
               {"key", r["key"]},
               {"name", name},
               {"dword", status == ERROR_SUCCESS ? json(data) : json()}});
      } else if (step.contains("window_state")) {
        HWND hwnd = findOwnWindow(wide(step["window_state"].get<std::string>()));
        event({{"type", "window_state"},
               {"title", step["window_state"]},
               {"found", hwnd != nullptr},
               {"minimized", hwnd && IsIconic(hwnd)},
               {"foreground", hwnd && GetForegroundWindow() == hwnd}});
      } else if (step.contains("wait_file")) {
        std::wstring path = wide(expand(step["wait_file"].get<std::string>()));
        const ULONGLONG end = GetTickCount64() + step.value("timeout_ms", 30000u);
        const bool pump = step.value("pump", true);
        while (!fileExists(path) && GetTickCount64() < end) {
          if (!pump) {
            Sleep(20);
            continue;
          }
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
          MSG msg;
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        event({{"type", "wait_file"}, {"path", step["wait_file"]}, {"found", fileExists(path)}});
      } else if (step.contains("hold")) {
        std::wstring path = wide(expand(step["hold"].get<std::string>()));
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        event({{"type", "hold"}, {"path", utf8FromWide(path)}, {"held", file != INVALID_HANDLE_VALUE}});
      } else if (step.contains("write_list")) {
        std::wstring path = wide(expand(step["write_list"].get<std::string>()));
        std::wstring text;
        for (const auto& line : step.at("lines")) text += wide(expand(line.get<std::string>())) + L"\r\n";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        bool ok = file != INVALID_HANDLE_VALUE &&
                  WriteFile(file, text.data(), DWORD(text.size() * sizeof(wchar_t)), &written, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        event({{"type", "write_list"}, {"path", utf8FromWide(path)}, {"written", ok}});
      } else if (step.contains("start")) {
        std::wstring command = wide(expand(step["start"].get<std::string>()));
        std::wstring cwd = step.contains("cwd") ? wide(expand(step["cwd"].get<std::string>())) : L"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        bool ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
        if (ok) {
          CloseHandle(pi.hThread);
          CloseHandle(pi.hProcess);
        }
        event({{"type", "start"},
               {"command", utf8FromWide(command)},
               {"started", ok},
               {"pid", ok ? pi.dwProcessId : 0}});
      } else if (!step.contains("comment")) {
        scenarioError("unknown step " + step.dump());
      }
    } catch (const json::exception& e) {
      scenarioError(std::string(e.what()) + " in step " + step.dump());
    }
  }
}

std::string Vm::expand(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
    if (close == std::string::npos) {
      out += text[i++];
      continue;
    }
    const std::string name = text.substr(i + 1, close - i - 1);
    if (name == "cwd") {
      wchar_t dir[MAX_PATH] = {};
      GetCurrentDirectoryW(MAX_PATH, dir);
      out += utf8FromWide(dir);
    } else if (name.starts_with("prop:")) {
      auto it = properties_.find(utf16FromUtf8(name.substr(5)));
      if (it == properties_.end()) scenarioError("no system property " + name.substr(5));
      out += utf8FromUtf16(it->second);
    } else if (name.starts_with("env:")) {
      std::wstring value(32767, L'\0');
      DWORD n = GetEnvironmentVariableW(wide(name.substr(4)).c_str(), value.data(), DWORD(value.size()));
      if (n == 0 || n >= value.size()) scenarioError("no environment variable " + name.substr(4));
      value.resize(n);
      out += utf8FromWide(value);
    } else {
      out += text.substr(i, close - i + 1);
    }
    i = close + 1;
  }
  return out;
}

json Vm::callNative(const json& step) {
  const std::string target = step.at("call").get<std::string>();
  const size_t dot = target.rfind('.');
  if (dot == std::string::npos) scenarioError("call: \"" + target + "\" is not Class.method");
  ClassInfo* cls = scenarioClass(target.substr(0, dot));
  if (!cls) scenarioError("call: unknown class in " + target);
  const std::string name = target.substr(dot + 1);
  const std::string signature = step.value("signature", std::string());
  MethodInfo* method = nullptr;
  for (auto& m : cls->methods) {
    if (m.isNative && !m.hidden && m.name == name && (signature.empty() || m.signature == signature)) {
      if (method) scenarioError("call: " + target + " is overloaded; give its \"signature\"");
      method = &m;
    }
  }
  if (!method) scenarioError("call: " + cls->name + " declares no native " + name + signature);
  json args = step.value("args", json::array());
  if (args.is_array()) {
    for (json& a : args) {
      if (!a.is_object() || a.size() != 1 || !a.contains("saved")) continue;
      const std::string savedName = a["saved"].get<std::string>();
      if (!saved_.contains(savedName)) scenarioError("call: nothing saved as \"" + savedName + "\"");
      a = saved_[savedName];
    }
  }
  if (!args.is_array() || args.size() != method->parameters.size()) {
    scenarioError("call: " + target + method->signature + " takes " +
                  std::to_string(method->parameters.size()) + " arguments");
  }
  std::vector<Value> values;
  for (size_t i = 0; i < args.size(); ++i) values.push_back(valueFromJson(args[i], method->parameters[i]));

  json record = {
      {"call", target}, {"class", cls->name}, {"name", method->name}, {"signature", method->signature}};
  const bool registered = method->nativeFunction != nullptr;
  Value result = invoke(method, nullptr, values);
  record["result"] = toJson(result);
  json after = json::array();
  for (const Value& v : values) after.push_back(toJson(v));
  record["args"] = after;  // as the native left them: arrays may have been written
  if (registered) {
    record["localRefsLeft"] = lastNativeCall_.localRefsLeft;
    record["unreleased"] = lastNativeCall_.unreleased;
    record["peakLocalRefs"] = lastNativeCall_.peakLocalRefs;
  } else {
    record["error"] = "not registered";
  }
  record["exception"] = pending_ ? json(describe(pending_)) : json(nullptr);
  if (pending_ && step.value("catch", false)) pending_ = nullptr;
  if (step.contains("save")) saved_[step["save"].get<std::string>()] = record["result"];
  report_["calls"].push_back(record);
  save();
  return record;
}

// ---------------------------------------------------------------------------------------
// Java values from JSON, for native arguments and field values. By parameter type:
//   Z: true/false; B C S I J: integers; F D: numbers
//   String: "text", or {"utf16": [units]} for text that UTF-8 cannot carry (lone surrogates)
//   Class: "com/x/Y" or {"class": "com/x/Y"}
//   arrays: a JSON list read with the array's element type ([B from integers, [Z from
//     booleans, [Ljava/lang/String; from strings and nulls), or a tagged list such as
//     {"byte[]": [1, 2]}, {"int[]": [...]}, {"boolean[]": [...]}, {"String[]": [...]}
//   boxed values: {"Integer": 5}, {"Long": 5}, {"Boolean": true}
//   any object: {"new": "com/x/Y", "signature": "(I)V", "args": [...]}
//   null for any reference.
Value Vm::valueFromJson(const json& j, std::string_view descriptor) {
  auto bad = [this, &j, descriptor](const std::string& what) {
    scenarioError(what + ": " + j.dump() + " for " + std::string(descriptor));
  };
  const char t = descriptor[0];
  switch (t) {
    case 'Z':
      if (j.is_boolean()) return Value::ofBoolean(j.get<bool>());
      if (j.is_number_integer()) return Value::ofBoolean(j.get<int64_t>() != 0);
      scenarioError("not a boolean: " + j.dump());
    case 'B':
    case 'C':
    case 'S':
    case 'I':
    case 'J':
      if (j.is_number_integer()) return Value::ofInt(t, j.get<int64_t>());
      if (t == 'C' && j.is_string()) {
        std::u16string u = utf16FromUtf8(j.get<std::string>());
        if (u.size() == 1) return Value::ofInt('C', u[0]);
      }
      scenarioError("not an integer: " + j.dump());
    case 'F':
    case 'D':
      if (j.is_number()) return Value::ofDouble(t, j.get<double>());
      scenarioError("not a number: " + j.dump());
  }

  Object* obj = nullptr;
  auto primitiveArray = [&](char type, const json& list) {
    Object* a = newPrimitiveArray(type, list.size());
    for (size_t i = 0; i < list.size(); ++i) {
      Value v = valueFromJson(list[i], std::string(1, type));
      unsigned char* p = a->bytes.data() + i * primitiveSize(type);
      switch (type) {
        case 'Z':
          *p = v.i ? 1 : 0;
          break;
        case 'B':
          *reinterpret_cast<int8_t*>(p) = static_cast<int8_t>(v.i);
          break;
        case 'C':
          *reinterpret_cast<uint16_t*>(p) = static_cast<uint16_t>(v.i);
          break;
        case 'S':
          *reinterpret_cast<int16_t*>(p) = static_cast<int16_t>(v.i);
          break;
        case 'I':
          *reinterpret_cast<int32_t*>(p) = static_cast<int32_t>(v.i);
          break;
        case 'J':
          *reinterpret_cast<int64_t*>(p) = v.i;
          break;
        case 'F':
          *reinterpret_cast<float*>(p) = static_cast<float>(v.d);
          break;
        case 'D':
          *reinterpret_cast<double*>(p) = v.d;
          break;
      }
    }
    return a;
  };
  auto objectArray = [&](std::string_view elementDescriptor, const json& list) {
    ClassInfo* elementClass = elementDescriptor[0] == 'L'
                                  ? findClass(elementDescriptor.substr(1, elementDescriptor.size() - 2))
                                  : findClass(elementDescriptor);
    if (!elementClass) bad("unknown element class");
    Object* a = newObjectArray(elementClass, list.size());
    for (size_t i = 0; i < list.size(); ++i) a->elements[i] = valueFromJson(list[i], elementDescriptor).obj;
    return a;
  };
  static const std::map<std::string, char> kTags = {{"boolean[]", 'Z'}, {"byte[]", 'B'},  {"char[]", 'C'},
                                                    {"short[]", 'S'},   {"int[]", 'I'},   {"long[]", 'J'},
                                                    {"float[]", 'F'},   {"double[]", 'D'}};

  if (j.is_null()) return Value::ofObject(nullptr);
  if (j.is_string()) {
    if (descriptor == "Ljava/lang/Class;") {
      ClassInfo* cls = findClass(j.get<std::string>());
      if (!cls) bad("unknown class");
      obj = cls->mirror;
    } else {
      obj = newString(utf16FromUtf8(j.get<std::string>()));
    }
  } else if (j.is_array()) {
    if (descriptor.size() == 2 && descriptor[0] == '[' && std::strchr("ZBCSIJFD", descriptor[1])) {
      obj = primitiveArray(descriptor[1], j);
    } else if (descriptor[0] == '[') {
      obj = objectArray(descriptor.substr(1), j);
    } else {
      bad("a list needs an array parameter or a tag such as {\"String[]\": [...]}");
    }
  } else if (j.is_object() && j.size() >= 1) {
    const std::string tag = j.begin().key();
    if (j.contains("utf16")) {
      std::u16string text;
      for (const auto& u : j["utf16"]) text += static_cast<char16_t>(u.get<int>());
      obj = newString(std::move(text));
    } else if (j.contains("class") && j.size() == 1) {
      ClassInfo* cls = findClass(j["class"].get<std::string>());
      if (!cls) bad("unknown class");
      obj = cls->mirror;
    } else if (j.contains("new")) {
      ClassInfo* cls = findClass(j["new"].get<std::string>());
      if (!cls) bad("unknown class");
      MethodInfo* ctor = cls->findOwnMethod("<init>", j.value("signature", std::string("()V")));
      if (!ctor) bad("no such constructor");
      const json ctorArgs = j.value("args", json::array());
      if (ctorArgs.size() != ctor->parameters.size()) bad("wrong number of constructor arguments");
      std::vector<Value> values;
      for (size_t i = 0; i < ctorArgs.size(); ++i)
        values.push_back(valueFromJson(ctorArgs[i], ctor->parameters[i]));
      obj = construct(ctor, std::move(values));
    } else if (j.size() == 1 && (tag == "Integer" || tag == "Long" || tag == "Boolean")) {
      const char type = tag == "Integer" ? 'I' : tag == "Long" ? 'J' : 'Z';
      ClassInfo* cls = findClass("java/lang/" + tag);
      MethodInfo* ctor = cls ? cls->findOwnMethod("<init>", std::string("(") + type + ")V") : nullptr;
      if (!ctor) bad("java/lang/" + tag + " is missing");
      obj = construct(ctor, {valueFromJson(j[tag], std::string(1, type))});
    } else if (j.size() == 1 && kTags.count(tag)) {
      obj = primitiveArray(kTags.at(tag), j[tag]);
    } else if (j.size() == 1 && (tag == "String[]" || tag == "Object[]")) {
      obj = objectArray(tag == "String[]" ? "Ljava/lang/String;" : "Ljava/lang/Object;", j[tag]);
    } else {
      bad("unknown object form");
    }
  } else {
    bad("not a value for a reference parameter");
  }
  ClassInfo* expected =
      descriptor[0] == 'L' ? findClass(descriptor.substr(1, descriptor.size() - 2)) : findClass(descriptor);
  if (expected && !isInstance(obj, expected)) bad("a " + obj->cls->name + " does not fit");
  return Value::ofObject(obj);
}

}  // namespace fakejvm
