// The two modal dialogs of the feedback UI: choosing one of several recognised forms, and the icon
// settings. Their templates come from the branding library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace manifestformselection_implementation {

// The choose-manifest dialog (template IDD_KX_CHOOSEMANIFEST): one list-view row per choice text, OK
// only while a row is selected; the choice is identified by its text.
class cdlg_choosemanifest_t {
 public:
  explicit cdlg_choosemanifest_t(std::vector<std::wstring> choices) : choices_(std::move(choices)) {}
  // Runs the dialog modally over |owner|; the chosen index, or -1 (cancelled, or no dialog).
  int run(HMODULE resources, HWND owner);
  int chosen() const { return chosen_; }

 private:
  static INT_PTR CALLBACK dialogproc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);
  void init(HWND dialog);
  void update_ok(HWND dialog);
  void choose(HWND dialog);

  std::vector<std::wstring> choices_;
  int chosen_ = -1;
};

}  // namespace manifestformselection_implementation

namespace iconsettings_impl {

// The icon settings dialog (template IDD_KX_ICONSETTINGS): radio buttons IDC_KX_SHOWICON and
// IDC_KX_NEVERPROMPT, check box IDC_KX_NOTTHISPAGE under IDC_KX_SHOWICON.
// Values: 0 show the icon, 1 as 0 with IDC_KX_NOTTHISPAGE checked, 2 never.
class dlgiconsetting_t {
 public:
  explicit dlgiconsetting_t(int value) : value_(value), initial_(value) {}
  // Runs the dialog modally over |owner|; true when it ended with OK.
  bool run(HMODULE resources, HWND owner);
  // The value after OK; the given value otherwise.
  int value() const { return result_; }

 private:
  static INT_PTR CALLBACK dialogproc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);
  void init(HWND dialog);
  void clicked(HWND dialog, int control);

  int value_;
  int initial_;
  int result_ = initial_;
};

}  // namespace iconsettings_impl

namespace ffagent_window {

// The owner of the feedback UI's dialogs: the top-level window of |browser|, else the active window.
HWND dialog_owner(HWND browser);
// The index of the chosen text among |choices| (best first, the best preselected), or -1: none for
// no choice, the only one without a dialog, else the choose-manifest dialog owned by the top-level
// window of |browser|.
int selectoneform(const std::vector<std::wstring>& choices, HWND browser = nullptr);
// The icon settings dialog owned by the top-level window of |browser|, preset to |value|; |value| is
// replaced on OK.
void dialog_iconvisibility(int& value, HWND browser = nullptr);

}  // namespace ffagent_window
