#include "feedback/IconMenu.h"

#include "environment/Branding.h"
#include "feedback/Texts.h"
#include "tracecore/trace.h"

namespace ffagent_window {
namespace {

constexpr int kFirstTextNumber = 40000;

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
    m.remove(32786);
    m.insert_before(32785, 35005, ui_text(40135));
    m.insert_before(32785, 32786, ui_text(40136));
    m.set_text(32785, ui_text(40148));
    m.insert_before(32783, 35003, ui_text(40138));
    m.remove(32784);
    m.set_default(35005);
    return;
  }
  if (state & menustate_passwordchange) {
    if (flag) {
      m.replace(32785, 32787, ui_text(40147));
      m.set_default(32787);
    } else {
      m.replace(32785, 35000, ui_text(40000));
      m.set_default(35000);
    }
    m.replace(32786, 35003, ui_text(40138));
    m.remove(32784);
    return;
  }
  if (!flag) {
    m.remove(32785);
    m.remove(32783);
    m.remove(32786);
    m.remove(32784);
  } else {
    if (state & menustate_insert)
      m.set_text(32785, formatted(40137, insert));
    else
      m.remove(32785);
    m.insert_before(32786, 35003, ui_text(40138));
    m.insert_before(32783, 35004, ui_text(40139));
    m.set_default(32785);
    m.remove(32786);
    m.remove(32784);
  }
  // Both untrained cases end alike.
  m.replace(32786, 35001, ui_text(40006));
  m.insert_before(35001, 35002, ui_text(40128));
  m.remove(32784);
}

ffui::unique_hmenu profile_menu(const std::vector<menu_profile_t>& profiles, UINT base) {
  ffui::unique_hmenu menu(CreatePopupMenu());
  for (const auto& p : profiles) AppendMenuW(menu.get(), MF_STRING, base + p.number, p.name.c_str());
  return menu;
}

}  // namespace

ffui::unique_hmenu build_icon_menu(HMODULE resources, std::uint32_t state, const std::vector<menu_profile_t>& profiles,
                                   const std::wstring& insert) {
  ffui::unique_hmenu menu(resources ? LoadMenuW(resources, MAKEINTRESOURCEW(303)) : nullptr);
  HMENU popup = icon_popup(menu);
  if (!popup) return {};
  menu_editor_t editor(popup);
  adjust(editor, state, insert);
  if (!profiles.empty()) {
    editor.set_submenu(35005, profile_menu(profiles, 29010));
    editor.set_submenu(32786, profile_menu(profiles, 29002));
  }
  editor.tidy_separators();
  return menu;
}

HMENU icon_popup(const ffui::unique_hmenu& menu) { return menu ? GetSubMenu(menu.get(), 0) : nullptr; }

int menu_command(int menu_id) {
  switch (menu_id) {
    case 32783: return 29007;
    case 32784: return 29003;
    case 32785: return 29001;
    case 32786: return 29002;
    case 32787: return 29012;
    case 35000: return 29004;
    case 35001: return 29005;
    case 35002: return 29006;
    case 35003: return 29008;
    case 35004: return 29009;
    case 35005: return 29010;
    // The profile entries pass through as they are. Numbers from 40000 up are the menu's text
    // numbers, never entries: an item that carries one (40000 itself, say) stands for nothing.
    default: return menu_id >= 29014 && menu_id < kFirstTextNumber ? menu_id : 0;
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
