// Natives of the Java class VistaTaskDialog: a task dialog with custom buttons and an
// optional verification check box, modal to a window of the installer.
#include <jni.h>
#include <windows.h>

// After windows.h, which they build on.
#include <commctrl.h>

#include <vector>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/dialogs/DialogWords.h"

namespace {

using namespace shipkit::natives;

static_assert(sizeof(TASKDIALOGCONFIG) == 160, "the configuration record of the version-6 common controls");

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// From the already loaded version-6 common controls; cached once found.
TaskDialogIndirectFn taskDialogIndirect() {
  static TaskDialogIndirectFn fn = nullptr;
  if (!fn) {
    HMODULE module = ::GetModuleHandleW(L"Comctl32.dll");
    if (module)
      fn = reinterpret_cast<TaskDialogIndirectFn>(
          reinterpret_cast<void*>(::GetProcAddress(module, "TaskDialogIndirect")));
  }
  return fn;
}

struct KeepAbove {
  HWND parent;
  int ticks;
};

// On every timer notification the dialog goes back next to its parent; from the sixth on
// without taking the activation.
HRESULT CALLBACK keepAboveParent(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
  if (notification == TDN_TIMER && data) {
    auto* state = reinterpret_cast<KeepAbove*>(data);
    ::SetWindowPos(dialog, state->parent, 0, 0, 0, 0, keepAboveFlags(state->ticks));
    ++state->ticks;
  }
  return S_OK;
}

}  // namespace

// The 1-based index of the custom button pressed, 1000 for none, negated when the
// verification box was ticked; 0 when task dialogs are unavailable.
extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_VistaTaskDialog_show0(
    JNIEnv* env, jclass, jlong parentWindow, jstring windowTitle, jstring mainInstruction, jstring content,
    jint flags, jint mainIcon, jint width, jstring verificationText, jobjectArray buttonLabels,
    jint defaultButtonIndex) noexcept {
  return guarded<jint>(kNoCustomButton, [&]() -> jint {
    TaskDialogIndirectFn show = taskDialogIndirect();
    if (!show) return 0;
    const WideString title = WideString::from(env, windowTitle);
    const WideString instruction = WideString::from(env, mainInstruction);
    const WideString text = WideString::from(env, content);
    const WideString verification = WideString::from(env, verificationText);
    for (const WideString* s : {&title, &instruction, &text, &verification}) {
      if (s->failed()) return kNoCustomButton;
    }
    const std::vector<WideString> labels = stringArrayIn(env, buttonLabels);
    std::vector<TASKDIALOG_BUTTON> buttons;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (labels[i].failed()) return kNoCustomButton;
      buttons.push_back({int(kFirstCustomButtonId + i), labels[i].isNull() ? L"" : labels[i].get()});
    }
    const HWND parent = reinterpret_cast<HWND>(static_cast<LONG_PTR>(parentWindow));
    KeepAbove keepAbove{parent, 0};

    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof config;
    config.hwndParent = parent;
    config.dwFlags =
        TASKDIALOG_FLAGS(taskDialogFlags(flags, parent != nullptr, parent && ::IsIconic(parent)));
    config.dwCommonButtons = 0;
    config.pszWindowTitle = title.get();
    config.pszMainInstruction = instruction.get();
    config.pszContent = text.get();
    config.hMainIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(mainIcon));
    config.cButtons = UINT(buttons.size());
    config.pButtons = buttons.empty() ? nullptr : buttons.data();
    config.nDefaultButton = kFirstCustomButtonId + defaultButtonIndex;
    config.pszVerificationText = verification.get();
    config.cxWidth = UINT(width);
    if (parent) {
      config.pfCallback = keepAboveParent;
      config.lpCallbackData = reinterpret_cast<LONG_PTR>(&keepAbove);
    }
    int pressed = 0;
    BOOL ticked = FALSE;
    if (FAILED(show(&config, &pressed, nullptr, &ticked))) {
      pressed = 0;
      ticked = FALSE;
    }
    return taskDialogResult(pressed, ticked != FALSE);
  });
}
