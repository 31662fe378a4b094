// Natives of the Java class VistaFileChooser: the shell's common item dialog to open or save
// files, with file types, check boxes and the chosen paths returned.
#include <jni.h>
#include <objbase.h>
#include <windows.h>

// After windows.h, which it builds on.
#include <shobjidl.h>

#include <algorithm>
#include <vector>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/dialogs/DialogWords.h"
#include "win/ComPtr.h"
#include "win/LateBound.h"

namespace {

using namespace shipkit::natives;
using shipkit::win::ComPtr;

constexpr DWORD kOptionsGroupId = 100000;

using CreateItemFn = HRESULT(WINAPI*)(PCWSTR, IBindCtx*, REFIID, void**);
using CreateItemArrayFn = HRESULT(WINAPI*)(IShellItem*, REFIID, void**);

// A String[] of the items' file-system paths, built element by element so that only one
// local reference lives at a time; items without such a path stay null.
jobjectArray pathsOf(JNIEnv* env, IShellItemArray* items) {
  DWORD count = 0;
  if (FAILED(items->GetCount(&count))) return nullptr;
  jclass stringClass = env->FindClass("java/lang/String");
  if (!stringClass) {
    clearJavaException(env);
    return nullptr;
  }
  jobjectArray result = env->NewObjectArray(jsize(count), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (!result) {
    clearJavaException(env);
    return nullptr;
  }
  for (DWORD i = 0; i < count; ++i) {
    ComPtr<IShellItem> item;
    if (FAILED(items->GetItemAt(i, item.put())) || !item) continue;
    PWSTR path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path && path[0]) {
      jstring element = newJavaString(env, path);
      if (element) {
        env->SetObjectArrayElement(result, jsize(i), element);
        env->DeleteLocalRef(element);
      }
    }
    ::CoTaskMemFree(path);
  }
  return result;
}

// Check buttons with ids 1..n, inside the "Options:" group when there are several.
void addCheckBoxes(IFileDialog* dialog, const std::vector<WideString>& labels,
                   const BooleanArrayElements& states) {
  ComPtr<IFileDialogCustomize> customize;
  if (FAILED(dialog->QueryInterface(IID_IFileDialogCustomize, customize.putVoid())) || !customize) return;
  const bool grouped = labels.size() >= 2;
  if (grouped) customize->StartVisualGroup(kOptionsGroupId, L"Options:");
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const bool checked = states && jsize(i) < states.size() && states.data()[i] != JNI_FALSE;
    customize->AddCheckButton(DWORD(i + 1), labels[i].isNull() ? L"" : labels[i].get(),
                              checked ? TRUE : FALSE);
  }
  if (grouped) customize->EndVisualGroup();
}

void readCheckBoxes(IFileDialog* dialog, std::size_t count, const BooleanArrayElements& states) {
  if (count == 0 || !states) return;
  ComPtr<IFileDialogCustomize> customize;
  if (FAILED(dialog->QueryInterface(IID_IFileDialogCustomize, customize.putVoid())) || !customize) return;
  for (std::size_t i = 0; i < count && jsize(i) < states.size(); ++i) {
    BOOL checked = FALSE;
    if (SUCCEEDED(customize->GetCheckButtonState(DWORD(i + 1), &checked)))
      states.data()[i] = checked ? JNI_TRUE : JNI_FALSE;
  }
}

}  // namespace

// COM for the dialog on the calling thread; the result is not reported.
extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_VistaFileChooser_initialize0(JNIEnv*, jclass) noexcept {
  ::CoInitialize(nullptr);
}

// The chosen paths, or null for a cancelled or failed dialog. The check boxes' final states
// are written into checkBoxStates.
extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_VistaFileChooser_displayDialog0(
    JNIEnv* env, jclass, jlong parentWindow, jstring title, jstring okButtonLabel, jstring initialFolder,
    jstring fileName, jint optionsToSet, jint optionsToClear, jboolean saveDialog, jstring defaultExtension,
    jobjectArray filterNames, jobjectArray filterPatterns, jint filterIndex, jobjectArray checkBoxLabels,
    jbooleanArray checkBoxStates) noexcept {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    static shipkit::win::LateBound<CreateItemFn> createItem(L"shell32.dll", "SHCreateItemFromParsingName");
    static shipkit::win::LateBound<CreateItemArrayFn> createItemArray(L"shell32.dll",
                                                                      "SHCreateShellItemArrayFromShellItem");
    if (!createItem.get() || !createItemArray.get()) return nullptr;

    const WideString titleText = WideString::from(env, title);
    const WideString okLabel = WideString::from(env, okButtonLabel);
    const WideString folder = WideString::from(env, initialFolder);
    const WideString name = WideString::from(env, fileName);
    const WideString extension = WideString::from(env, defaultExtension);
    for (const WideString* s : {&titleText, &okLabel, &folder, &name, &extension}) {
      if (s->failed()) return nullptr;
    }
    const std::vector<WideString> names = stringArrayIn(env, filterNames);
    const std::vector<WideString> patterns = stringArrayIn(env, filterPatterns);
    const std::vector<WideString> labels = stringArrayIn(env, checkBoxLabels);
    for (const auto* list : {&names, &patterns, &labels}) {
      if (std::any_of(list->begin(), list->end(), [](const WideString& s) { return s.failed(); }))
        return nullptr;
    }

    const bool save = saveDialog != JNI_FALSE;
    ComPtr<IFileDialog> dialog;
    const HRESULT created = save ? ::CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                                                      IID_IFileDialog, dialog.putVoid())
                                 : ::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                                      IID_IFileOpenDialog, dialog.putVoid());
    if (FAILED(created) || !dialog) return nullptr;

    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options)))
      dialog->SetOptions(fileDialogOptions(options, optionsToSet, optionsToClear));

    if (filterNames) {
      // A pattern missing for a name (the caller passes at least as many) stays empty.
      std::vector<COMDLG_FILTERSPEC> types;
      for (std::size_t i = 0; i < names.size(); ++i) {
        const wchar_t* pattern = i < patterns.size() && !patterns[i].isNull() ? patterns[i].get() : L"";
        types.push_back({names[i].isNull() ? L"" : names[i].get(), pattern});
      }
      if (!types.empty()) dialog->SetFileTypes(UINT(types.size()), types.data());
      if (filterIndex >= 0) dialog->SetFileTypeIndex(UINT(filterIndex) + 1);
    }

    const BooleanArrayElements states(env, checkBoxStates);
    if (!labels.empty()) addCheckBoxes(dialog.get(), labels, states);

    if (!extension.isNull()) dialog->SetDefaultExtension(extension.get());
    if (!titleText.isNull()) dialog->SetTitle(titleText.get());
    if (!okLabel.isNull()) dialog->SetOkButtonLabel(okLabel.get());
    dialog->ClearClientData();
    if (!folder.isNull()) {
      ComPtr<IShellItem> item;
      if (SUCCEEDED(createItem.get()(folder.get(), nullptr, IID_IShellItem, item.putVoid())) && item.get())
        dialog->SetFolder(item.get());
    }
    if (!name.isNull()) dialog->SetFileName(name.get());

    if (FAILED(dialog->Show(reinterpret_cast<HWND>(static_cast<LONG_PTR>(parentWindow))))) return nullptr;
    readCheckBoxes(dialog.get(), labels.size(), states);

    ComPtr<IShellItemArray> chosen;
    if (save) {
      ComPtr<IShellItem> item;
      if (FAILED(dialog->GetResult(item.put())) || !item) return nullptr;
      if (FAILED(createItemArray.get()(item.get(), IID_IShellItemArray, chosen.putVoid())) || !chosen)
        return nullptr;
    } else {
      auto* open = static_cast<IFileOpenDialog*>(dialog.get());
      if (FAILED(open->GetResults(chosen.put())) || !chosen) return nullptr;
    }
    return pathsOf(env, chosen.get());
  });
}
