// The feedback icon's popup menu: the template from the branding library, adjusted to the page by
// the menu state word, and the command each menu entry stands for.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "feedback/ui_handles.h"

namespace ffagent_window {

// Bits of the menu state word.
enum menu_state_bits : std::uint32_t {
  menustate_trained = 0x1,
  menustate_flag = 0x2,
  menustate_personal = 0x4,
  menustate_insert = 0x10,
  menustate_passwordchange = 0x40,
};

struct menu_profile_t {
  int number;
  std::wstring name;
};

// The template (menu IDR_KX_ICONMENU of |resources|) adjusted by |state|: the whole menu, whose first submenu
// is the icon menu; empty when the template is missing.
ffui::unique_hmenu build_icon_menu(HMODULE resources, std::uint32_t state, const std::vector<menu_profile_t>& profiles,
                                   const std::wstring& insert);
// The icon menu inside a menu built above (none for an empty one).
HMENU icon_popup(const ffui::unique_hmenu& menu);

// The command a menu entry stands for, 0 for none.
int menu_command(int menu_id);

// Builds the menu from the branding library, tracks it at |screen| and returns the chosen command
// (0: none or no template).
int track_icon_menu(HWND parent, POINT screen, std::uint32_t state, const std::vector<menu_profile_t>& profiles,
                    const std::wstring& insert);

}  // namespace ffagent_window
