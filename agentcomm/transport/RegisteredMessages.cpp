#include "agentcomm/transport/RegisteredMessages.h"

#include <atomic>

namespace ffipc {
namespace {

constexpr const wchar_t* kNames[] = {
    L"WM_KX_AGENT_REQUEST",          L"WM_KX_ACTIONREQUEST_FRHOOK",     L"WM_KX_HOOK_FFWM",
    L"WM_KX_AGENT_FFMEMBLOCK",       L"WM_KX_AGENT_MANIFEST",           L"WM_KX_AGENT_SPAWN_FLM",
    L"WM_KX_AGENT_SPAWN_DASHBOARD",  L"WM_KX_AGENT_SPAWN_HELP",         L"WM_KX_FBVIEW_CHECKLOGONREPLY",
    L"WM_KX_FBVIEW_FILLINREPLY",     L"WM_KX_AGENT_HASFINGERS",         L"WM_KX_AGENT_GAVATAR_ACTIVATION",
    L"KX_FBICONMENU_COMMAND",        L"KX_FBICONMENU_REQUEST",
};
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<int>(kxmsg::count_));

std::atomic<UINT> g_numbers[static_cast<int>(kxmsg::count_)];

}  // namespace

const wchar_t* message_name(kxmsg m) { return kNames[static_cast<int>(m)]; }

UINT registered(kxmsg m) {
  std::atomic<UINT>& slot = g_numbers[static_cast<int>(m)];
  UINT n = slot.load(std::memory_order_relaxed);
  if (n == 0) {
    n = RegisterWindowMessageW(message_name(m));
    slot.store(n, std::memory_order_relaxed);
  }
  return n;
}

}  // namespace ffipc
