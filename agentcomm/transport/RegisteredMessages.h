// The registered window messages shared with the agent, the suite's hooks and the feedback icon's
// menu. Each is registered once by its name and the number kept.
#pragma once

#include <windows.h>

namespace ffipc {

enum class kxmsg : int {
  agent_request,            // "WM_KX_AGENT_REQUEST": a notice from the agent, payload in "BLOCK_TO_FF"
  actionrequest_frhook,     // "WM_KX_ACTIONREQUEST_FRHOOK": wParam reply window, lParam operation
  hook_ffwm,                // "WM_KX_HOOK_FFWM": a wrapped message
  agent_ffmemblock,         // "WM_KX_AGENT_FFMEMBLOCK": a passed block, wParam its code
  agent_manifest,           // "WM_KX_AGENT_MANIFEST": store a text as a file
  agent_spawn_flm,          // "WM_KX_AGENT_SPAWN_FLM"
  agent_spawn_dashboard,    // "WM_KX_AGENT_SPAWN_DASHBOARD"
  agent_spawn_help,         // "WM_KX_AGENT_SPAWN_HELP"
  fbview_checklogonreply,   // "WM_KX_FBVIEW_CHECKLOGONREPLY"
  fbview_fillinreply,       // "WM_KX_FBVIEW_FILLINREPLY"
  agent_hasfingers,         // "WM_KX_AGENT_HASFINGERS"
  agent_gavatar_activation, // "WM_KX_AGENT_GAVATAR_ACTIVATION"
  fbiconmenu_command,       // "KX_FBICONMENU_COMMAND"
  fbiconmenu_request,       // "KX_FBICONMENU_REQUEST"
  count_
};

const wchar_t* message_name(kxmsg m);
// The registered number; registered on first use.
UINT registered(kxmsg m);

}  // namespace ffipc
