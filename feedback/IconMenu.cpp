#include "feedback/IconMenu.h"

#include "agentcomm/window/Feedback.h"
#include "environment/Branding.h"
#include "environment/BrandingResources.h"
#include "feedback/Texts.h"
#include "tracecore/trace.h"

namespace ffagent_window {
namespace {

// Entries from here up to the first text number are their own command (see menu_command).
constexpr int kFirstPassThroughEntry = 29014;

// The icon menu's items addressed by identifier; an identifier the menu lacks changes nothing.
class menu_editor_t {
 public:
  explicit menu_editor_t(HMENU menu) : menu_(menu) {}

  void remove(UINT id) { DeleteMenu(menu_, id, MF_BYCOMMAND); }
  void insert_before(UINT before, UINT id, const std::wstring& text) {
    InsertMenuW(menu_, before, MF_BYCOMMAND | MF_STRING, id, text.c_str());
  }
  void set_text(UINT id, const std::wstring& text) { replace(id, id, text); }
  // The item |id| becomes |to| with |text|.
  void replace(UINT id, UINT to, const std::wstring& text) {
    if (GetMenuState(menu_, id, MF_BYCOMMAND) == static_cast<UINT>(-1)) return;
    ModifyMenuW(menu_, id, MF_BYCOMMAND | MF_STRING, to, text.c_str());
  }
  void set_default(UINT id) { SetMenuDefaultItem(menu_, id, FALSE); }
  // The item |id| takes |submenu| over; without such an item the submenu is destroyed here.
  void set_submenu(UINT id, ffui::unique_hmenu submenu) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU;
    info.hSubMenu = submenu.get();
    if (GetMenuState(menu_, id, MF_BYCOMMAND) != static_cast<UINT>(-1) && SetMenuItemInfoW(menu_, id, FALSE, &info))
      submenu.release();  // the menu destroys it with itself
  }
  // Separators that lead, trail or follow one another go: deleted entries leave them behind.
  void tidy_separators() {
    bool previous_separator = true;
    for (int i = 0; i < GetMenuItemCount(menu_);) {
      const bool separator = (GetMenuState(menu_, i, MF_BYPOSITION) & MF_SEPARATOR) != 0;
      if (separator && previous_separator) {
        DeleteMenu(menu_, i, MF_BYPOSITION);
        continue;
      }
      previous_separator = separator;
      ++i;
    }
    const int last = GetMenuItemCount(menu_) - 1;
    if (last >= 0 && (GetMenuState(menu_, last, MF_BYPOSITION) & MF_SEPARATOR)) DeleteMenu(menu_, last, MF_BYPOSITION);
  }

 private:
  HMENU menu_;
};

// The format's one insert ("%s", as the platform's wide formats write it) replaced by |insert|.
std::wstring formatted(UINT id, const std::wstring& insert) {
  std::wstring text = ffui::ui_text(id);
  const auto at = text.find(L"%s");
  if (at != std::wstring::npos) text.replace(at, 2, insert);
  return text;
}

void adjust(menu_editor_t& m, std::uint32_t state, const std::wstring& insert) {
  using ffui::ui_text;
  const bool flag = (state & menustate_flag) != 0;
  if (state & menustate_trained) {
    m.remove(IDM_KX_EDITPROFILE);
    m.insert_before(IDM_KX_ADDPROFILE, IDM_KX_FILLIN, ui_text(IDS_KX_MENU_FILLIN));
    m.insert_before(IDM_KX_ADDPROFILE, IDM_KX_EDITPROFILE, ui_text(IDS_KX_MENU_EDITPROFILE));
    m.set_text(IDM_KX_ADDPROFILE, ui_text(IDS_KX_MENU_ADDANOTHERPROFILE));
    m.insert_before(IDM_KX_HELP, IDM_KX_DASHBOARD, ui_text(IDS_KX_MENU_DASHBOARD));
    m.remove(IDM_KX_STARTFLM);
    m.set_default(IDM_KX_FILLIN);
    return;
  }
  if (state & menustate_passwordchange) {
    if (flag) {
      m.replace(IDM_KX_ADDPROFILE, IDM_KX_TRAINPASSWORDCHANGE, ui_text(IDS_KX_MENU_TRAINPASSWORDCHANGE));
      m.set_default(IDM_KX_TRAINPASSWORDCHANGE);
    } else {
      m.replace(IDM_KX_ADDPROFILE, IDM_KX_PRODUCT, ui_text(IDS_KX_MENU_PRODUCT));
      m.set_default(IDM_KX_PRODUCT);
    }
    m.replace(IDM_KX_EDITPROFILE, IDM_KX_DASHBOARD, ui_text(IDS_KX_MENU_DASHBOARD));
    m.remove(IDM_KX_STARTFLM);
    return;
  }
  if (!flag) {
    m.remove(IDM_KX_ADDPROFILE);
    m.remove(IDM_KX_HELP);
    m.remove(IDM_KX_EDITPROFILE);
    m.remove(IDM_KX_STARTFLM);
  } else {
    if (state & menustate_insert)
      m.set_text(IDM_KX_ADDPROFILE, formatted(IDS_KX_MENU_ADDPROFILE_FOR, insert));
    else
      m.remove(IDM_KX_ADDPROFILE);
    m.insert_before(IDM_KX_EDITPROFILE, IDM_KX_DASHBOARD, ui_text(IDS_KX_MENU_DASHBOARD));
    m.insert_before(IDM_KX_HELP, IDM_KX_ICONSETTINGS, ui_text(IDS_KX_MENU_ICONSETTINGS));
    m.set_default(IDM_KX_ADDPROFILE);
    m.remove(IDM_KX_EDITPROFILE);
    m.remove(IDM_KX_STARTFLM);
  }
  // Both untrained cases end alike.
  m.replace(IDM_KX_EDITPROFILE, IDM_KX_DONTPROMPTTRAING, ui_text(IDS_KX_MENU_DONTPROMPTTRAING));
  m.insert_before(IDM_KX_DONTPROMPTTRAING, IDM_KX_DONTPROMPTTRAINL, ui_text(IDS_KX_MENU_DONTPROMPTTRAINL));
  m.remove(IDM_KX_STARTFLM);
}

ffui::unique_hmenu profile_menu(const std::vector<menu_profile_t>& profiles, UINT base) {
  ffui::unique_hmenu menu(CreatePopupMenu());
  for (const auto& p : profiles) AppendMenuW(menu.get(), MF_STRING, base + p.number, p.name.c_str());
  return menu;
}

}  // namespace

ffui::unique_hmenu build_icon_menu(HMODULE resources, std::uint32_t state, const std::vector<menu_profile_t>& profiles,
                                   const std::wstring& insert) {
  ffui::unique_hmenu menu(resources ? LoadMenuW(resources, MAKEINTRESOURCEW(IDR_KX_ICONMENU)) : nullptr);
  HMENU popup = icon_popup(menu);
  if (!popup) return {};
  menu_editor_t editor(popup);
  adjust(editor, state, insert);
  if (!profiles.empty()) {
    editor.set_submenu(IDM_KX_FILLIN, profile_menu(profiles, iconcmd_requestfillin));
    editor.set_submenu(IDM_KX_EDITPROFILE, profile_menu(profiles, iconcmd_editprofile));
  }
  editor.tidy_separators();
  return menu;
}

HMENU icon_popup(const ffui::unique_hmenu& menu) { return menu ? GetSubMenu(menu.get(), 0) : nullptr; }

int menu_command(int menu_id) {
  switch (menu_id) {
    case IDM_KX_HELP: return iconcmd_help;
    case IDM_KX_STARTFLM: return iconcmd_startFLM;
    case IDM_KX_ADDPROFILE: return iconcmd_addprofile;
    case IDM_KX_EDITPROFILE: return iconcmd_editprofile;
    case IDM_KX_TRAINPASSWORDCHANGE: return iconcmd_starttrainingpsw;
    case IDM_KX_PRODUCT: return iconcmd_product;
    case IDM_KX_DONTPROMPTTRAING: return iconcmd_dontprompttrainG;
    case IDM_KX_DONTPROMPTTRAINL: return iconcmd_dontprompttrainL;
    case IDM_KX_DASHBOARD: return iconcmd_spawndashboard;
    case IDM_KX_ICONSETTINGS: return iconcmd_showiconsettings;
    case IDM_KX_FILLIN: return iconcmd_requestfillin;
    // The profile entries pass through as they are. Numbers from 40000 up are the menu's text
    // numbers, never entries: an item that carries one (40000 itself, say) stands for nothing.
    default: return menu_id >= kFirstPassThroughEntry && menu_id < IDS_KX_FIRST_TEXT ? menu_id : 0;
  }
}

int track_icon_menu(HWND parent, POINT screen, std::uint32_t state, const std::vector<menu_profile_t>& profiles,
                    const std::wstring& insert) {
  const ffui::unique_hmenu menu = build_icon_menu(kxbranding::branding_library(), state, profiles, insert);
  HMENU popup = icon_popup(menu);
  if (!popup) {
    KXERROR("no icon menu");
    return 0;
  }
  const int id = static_cast<int>(
      TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, parent, nullptr));  // 0x102
  return id > 0 ? menu_command(id) : 0;
}

}  // namespace ffagent_window
