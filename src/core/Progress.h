#pragma once
// What a step of the main work shows of its progress: a bar, a main text, a status line and
// a button text, in the launcher's progress dialog or nowhere (quiet runs and runs that start
// without the dialog). Steps know this interface only, never the dialog's controls.

#include <windows.h>

#include <string>

namespace shipkit::core {

class Progress {
 public:
  virtual ~Progress() = default;
  // Whether a dialog shows the progress.
  virtual bool hasDialog() const = 0;
  virtual void setRange(int low, int high) = 0;
  // Safe from any thread.
  virtual void setPosition(int position) = 0;
  virtual void setMainText(const std::wstring& text) = 0;
  virtual void setStatusText(const std::wstring& text) = 0;
  virtual void setButtonText(const std::wstring& text) = 0;
  virtual void showStatus(bool shown) = 0;
  // Hides the whole dialog: the Java side's own window has come up.
  virtual void hide() = 0;
  // Ends a dialog that was opened for one step only.
  virtual void end() = 0;
  // The owner of the step's message boxes and dialogs; null without a dialog.
  virtual HWND owner() const = 0;
  // Whether the user canceled; once true it stays true.
  virtual bool canceled() const = 0;
};

// The progress of a run without a dialog: shows nothing and is never canceled. Also the base
// of progress doubles that record a part of it.
class NoProgress : public Progress {
 public:
  bool hasDialog() const override { return false; }
  void setRange(int, int) override {}
  void setPosition(int) override {}
  void setMainText(const std::wstring&) override {}
  void setStatusText(const std::wstring&) override {}
  void setButtonText(const std::wstring&) override {}
  void showStatus(bool) override {}
  void hide() override {}
  void end() override {}
  HWND owner() const override { return nullptr; }
  bool canceled() const override { return false; }
};

inline Progress& noProgress() {
  static NoProgress none;
  return none;
}

}  // namespace shipkit::core
