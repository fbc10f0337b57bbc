// The commands a test or a demo script gives the agent stand-in: WM_COPYDATA sent to its window with
// the command in dwData and little-endian 32-bit arguments in the data.
#pragma once

#include <cstdint>

namespace kxagent {

enum command_t : std::uint32_t {
  cmd_notice = 1,       // comm window, notice code, then a flattened storage: deliver the notice
  cmd_action = 2,       // comm window, operation, reply window (0: the agent's window)
  cmd_noack = 3,        // 1: handle records but never acknowledge them; 0: acknowledge again
  cmd_die_in_call = 4,  // end the process when the next record arrives, before acknowledging
  cmd_version = 5,      // the version announced from now on
  cmd_quit = 6,         // close the window and end
  cmd_hold = 7,         // 1: keep notices and actions queued; 0: deliver what was kept, and go on delivering
};

// The message the stand-in's window answers with wParam + lParam (a forwarded-message probe).
inline constexpr const wchar_t* kProbeMessage = L"KX_STANDIN_PROBE";

}  // namespace kxagent
