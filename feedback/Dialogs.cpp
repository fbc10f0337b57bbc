#include "feedback/Dialogs.h"

#include <commctrl.h>

#include <algorithm>

#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/window/Feedback.h"
#include "environment/ActivationContext.h"
#include "environment/Branding.h"
#include "environment/BrandingResources.h"
#include "feedback/Texts.h"
#include "feedback/WindowTracking.h"
#include "tracecore/trace.h"

namespace {

constexpr int kChooseManifestTemplate = IDD_KX_CHOOSEMANIFEST;
constexpr int kChoiceList = IDC_KX_CHOICELIST;
constexpr int kHelpLink = IDC_KX_HELPLINK;
constexpr int kIconSettingsTemplate = IDD_KX_ICONSETTINGS;
constexpr int kShowIcon = IDC_KX_SHOWICON, kAlsoUntrained = IDC_KX_NOTTHISPAGE, kNeverShow = IDC_KX_NEVERPROMPT;
constexpr int kMaxChoiceText = 260;

void init_common_controls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

// A modal dialog from the branding library, with the module's common controls.
INT_PTR run_dialog(HMODULE resources, int templ, HWND owner, DLGPROC proc, void* object) {
  if (!resources) {
    KXERROR("no dialog %d without the branding library", templ);
    return -1;
  }
  kxenv::module_activation_t active;
  init_common_controls();
  const INT_PTR r =
      DialogBoxParamW(resources, MAKEINTRESOURCEW(templ), owner, proc, reinterpret_cast<LPARAM>(object));
  if (r == -1) KXERROR_LAST("cannot show dialog %d", templ);
  return r;
}

// The whole text of a list-view row, however long: the buffer grows until the text fits.
std::wstring item_text(HWND list, int row) {
  std::wstring text(kMaxChoiceText + 1, L'\0');
  for (;;) {
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    const auto n = static_cast<size_t>(SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    if (n + 1 < text.size() || text.size() >= (1u << 20)) {
      text.resize(n);
      return text;
    }
    text.assign(text.size() * 2, L'\0');
  }
}

template <class T>
T* object_of(HWND dialog, UINT msg, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  return reinterpret_cast<T*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Centres |dialog| on its owner, the browser window the user works in, kept inside the work area of
// the owner's monitor (a template may centre on the screen instead). Without a shown owner the
// dialog is centred in the work area.
void centre_on_owner(HWND dialog) {
  const HWND owner = GetWindow(dialog, GW_OWNER);
  const bool over_owner = IsWindow(owner) && IsWindowVisible(owner) && !IsIconic(owner);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  RECT box{}, around{};
  if (!GetWindowRect(dialog, &box) ||
      !GetMonitorInfoW(MonitorFromWindow(over_owner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor))
    return;
  const RECT& area = monitor.rcWork;
  if (!over_owner || !GetWindowRect(owner, &around)) around = area;
  const LONG width = box.right - box.left, height = box.bottom - box.top;
  const LONG x = (around.left + around.right - width) / 2, y = (around.top + around.bottom - height) / 2;
  // A dialog larger than the work area keeps its top left corner (caption and system menu) inside.
  SetWindowPos(dialog, nullptr, std::max(area.left, std::min(x, area.right - width)),
               std::max(area.top, std::min(y, area.bottom - height)), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The help link of the choose-manifest dialog: a static text drawn as a link that opens the help
// through the communication window of the browser window the dialog belongs to.
class CHelpHyperLink {
  static constexpr const wchar_t* kMarker = L"KX_HelpHyperLink";

 public:
  static void attach(HWND dialog, int control) {
    HWND link = GetDlgItem(dialog, control);
    if (!link) return;
    SetWindowLongPtrW(link, GWL_STYLE, GetWindowLongPtrW(link, GWL_STYLE) | SS_NOTIFY);
    if (SetWindowSubclass(link, &subclassproc, 0, 0)) SetPropW(link, kMarker, reinterpret_cast<HANDLE>(1));
  }
  static bool is_link(HWND control) { return GetPropW(control, kMarker) != nullptr; }
  static void clicked(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    static const ATOM ffclient = GlobalAddAtomW(L"KXMAX_FFClient");
    HWND comm = static_cast<HWND>(GetPropW(ffagent_window::root_of(owner), MAKEINTATOM(ffclient)));
    if (IsWindow(comm))
      PostMessageW(comm, ffipc::registered(ffipc::kxmsg::fbiconmenu_command), 0, ffagent_window::iconcmd_help);
  }

 private:
  static LRESULT CALLBACK subclassproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
    if (msg == WM_SETCURSOR) {
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    }
    if (msg == WM_NCDESTROY) {
      RemovePropW(hwnd, kMarker);
      RemoveWindowSubclass(hwnd, &subclassproc, 0);
    }
    return DefSubclassProc(hwnd, msg, wparam, lparam);
  }
};

}  // namespace

namespace manifestformselection_implementation {

int cdlg_choosemanifest_t::run(HMODULE resources, HWND owner) {
  chosen_ = -1;
  run_dialog(resources, kChooseManifestTemplate, owner, &dialogproc, this);
  return chosen_;
}

void cdlg_choosemanifest_t::init(HWND dialog) {
  CHelpHyperLink::attach(dialog, kHelpLink);
  HWND list = GetDlgItem(dialog, kChoiceList);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  RECT client{};
  GetClientRect(list, &client);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = client.right - client.left - 8;
  ListView_InsertColumn(list, 0, &column);
  // Each row goes in at the top, the last choice first, so that the list reads best first and the
  // first row, which is selected, is the best candidate.
  for (auto text = choices_.rbegin(); text != choices_.rend(); ++text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = 0;
    item.pszText = const_cast<wchar_t*>(text->c_str());
    ListView_InsertItem(list, &item);
  }
  ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  update_ok(dialog);
}

void cdlg_choosemanifest_t::update_ok(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDOK), ListView_GetSelectedCount(GetDlgItem(dialog, kChoiceList)) > 0);
}

void cdlg_choosemanifest_t::choose(HWND dialog) {
  HWND list = GetDlgItem(dialog, kChoiceList);
  const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  if (selected < 0) return;
  const std::wstring text = item_text(list, selected);
  for (size_t i = 0; i < choices_.size(); ++i)
    if (CompareStringOrdinal(choices_[i].c_str(), -1, text.c_str(), -1, TRUE) == CSTR_EQUAL) {
      chosen_ = static_cast<int>(i);
      break;
    }
}

INT_PTR CALLBACK cdlg_choosemanifest_t::dialogproc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = object_of<cdlg_choosemanifest_t>(dialog, msg, lparam);
  if (!self) return FALSE;
  try {
    switch (msg) {
      case WM_INITDIALOG:
        centre_on_owner(dialog);
        self->init(dialog);
        return TRUE;
      case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom != kChoiceList) break;
        if (header->code == LVN_ITEMCHANGED) self->update_ok(dialog);
        if (header->code == NM_DBLCLK && ListView_GetSelectedCount(header->hwndFrom) > 0) {
          self->choose(dialog);
          EndDialog(dialog, IDOK);
        }
        return TRUE;
      }
      case WM_CTLCOLORSTATIC:
        if (CHelpHyperLink::is_link(reinterpret_cast<HWND>(lparam))) {
          SetTextColor(reinterpret_cast<HDC>(wparam), RGB(0, 0, 204));
          SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
          return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
      case WM_COMMAND:
        switch (LOWORD(wparam)) {
          case IDOK:
            self->choose(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
          case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
          case kHelpLink:
            if (HIWORD(wparam) == STN_CLICKED) CHelpHyperLink::clicked(dialog);
            return TRUE;
          default:
            break;
        }
        break;
      default:
        break;
    }
  } catch (...) {
    KXERROR("oo");
  }
  return FALSE;
}

}  // namespace manifestformselection_implementation

namespace iconsettings_impl {

bool dlgiconsetting_t::run(HMODULE resources, HWND owner) {
  result_ = initial_;
  return run_dialog(resources, kIconSettingsTemplate, owner, &dialogproc, this) == IDOK;
}

void dlgiconsetting_t::init(HWND dialog) {
  const std::wstring title = ffui::ui_text(IDS_KX_MENU_ICONSETTINGS);
  SetWindowTextW(dialog, title.empty() ? L"Icon settings" : title.c_str());
  ShowWindow(GetDlgItem(dialog, kAlsoUntrained), SW_HIDE);
  switch (value_) {
    case 1:
      CheckDlgButton(dialog, kShowIcon, BST_CHECKED);
      CheckDlgButton(dialog, kAlsoUntrained, BST_CHECKED);
      break;
    case 2:
      CheckDlgButton(dialog, kNeverShow, BST_CHECKED);
      EnableWindow(GetDlgItem(dialog, kAlsoUntrained), FALSE);
      break;
    default:
      CheckDlgButton(dialog, kShowIcon, BST_CHECKED);
      CheckDlgButton(dialog, kAlsoUntrained, BST_UNCHECKED);
      break;
  }
}

void dlgiconsetting_t::clicked(HWND dialog, int control) {
  switch (control) {
    case kShowIcon:
      value_ = 0;
      EnableWindow(GetDlgItem(dialog, kAlsoUntrained), TRUE);
      if (IsDlgButtonChecked(dialog, kAlsoUntrained) == BST_CHECKED) value_ = 1;
      break;
    case kAlsoUntrained:
      value_ = 1;
      break;
    case kNeverShow:
      value_ = 2;
      EnableWindow(GetDlgItem(dialog, kAlsoUntrained), FALSE);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK dlgiconsetting_t::dialogproc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = object_of<dlgiconsetting_t>(dialog, msg, lparam);
  if (!self) return FALSE;
  try {
    if (msg == WM_INITDIALOG) {
      centre_on_owner(dialog);
      self->init(dialog);
      return TRUE;
    }
    if (msg == WM_COMMAND) {
      const int control = LOWORD(wparam);
      if (control == IDOK) {
        self->result_ = self->value_;
        EndDialog(dialog, IDOK);
      } else if (control == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      } else if (HIWORD(wparam) == BN_CLICKED) {
        self->clicked(dialog, control);
      }
      return TRUE;
    }
  } catch (...) {
    KXERROR("oo");
  }
  return FALSE;
}

}  // namespace iconsettings_impl

namespace ffagent_window {

HWND dialog_owner(HWND browser) {
  const HWND root = root_of(browser);
  return IsWindow(root) ? root : GetActiveWindow();
}

int selectoneform(const std::vector<std::wstring>& choices, HWND browser) {
  KXSCOPE("selectoneform");
  if (choices.empty()) return -1;
  if (choices.size() == 1) return 0;
  manifestformselection_implementation::cdlg_choosemanifest_t dialog(choices);
  return dialog.run(kxbranding::branding_library(), dialog_owner(browser));
}

void dialog_iconvisibility(int& value, HWND browser) {
  KXSCOPE("dialog_iconvisibility");
  iconsettings_impl::dlgiconsetting_t dialog(value);
  if (dialog.run(kxbranding::branding_library(), dialog_owner(browser))) value = dialog.value();
}

}  // namespace ffagent_window
