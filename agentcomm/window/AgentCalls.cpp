#include "agentcomm/window/AgentCalls.h"

#include <cstdio>

namespace ffagent_window {
namespace {

HWND hwnd_of(kxmessages::window_id id) { return reinterpret_cast<HWND>(id); }

WPARAM top_level_param(kxmessages::window_id browser) {
  return reinterpret_cast<WPARAM>(ffipc::top_level_of(hwnd_of(browser)));
}

// Whether the forwarded message just sent was acknowledged (the transport traced why not).
bool call_done() { return ffipc::last_call_result() == ffipc::call_result_t::done; }

}  // namespace

bool send_block_bytes(std::uint32_t code, const serialization::memoryblock_i& block) {
  HWND agent = ffipc::find_agent_window();
  if (!agent) return false;
  return ffipc::pass_block(agent, ffipc::registered(ffipc::kxmsg::agent_ffmemblock), code, block);
}

bool reply_fillin(kxmessages::fillin_reply_context_t& context, bool done) {
  context.result = kxmessages::fillin_result(done);
  bool sent = false;
  if (IsWindow(hwnd_of(context.reply_window))) {
    ffipc::forward_message(hwnd_of(context.reply_window), ffipc::registered(ffipc::kxmsg::fbview_fillinreply),
                           top_level_param(context.browser_window), context.result);
    sent = call_done();
  }
  context.reset();
  return sent;
}

bool reply_checklogon(kxmessages::checklogon_reply_context_t& context, bool trained, bool logon) {
  context.result = kxmessages::checklogon_result(trained, logon);
  bool sent = false;
  if (IsWindow(hwnd_of(context.reply_window))) {
    ffipc::forward_message(hwnd_of(context.reply_window), ffipc::registered(ffipc::kxmsg::fbview_checklogonreply),
                           top_level_param(context.browser_window), context.result);
    sent = call_done();
  } else {
    KXTRACE("'`I0E`'checklogonrequest: reply window [%p] does not exist.", reinterpret_cast<void*>(context.reply_window));
  }
  context.reset();
  return sent;
}

bool spawn_flm(std::string_view name, std::int32_t number) {
  HWND agent = ffipc::find_agent_window();
  if (!agent) return false;
  return ffipc::send_text(agent, ffipc::registered(ffipc::kxmsg::agent_spawn_flm), name, std::to_string(number));
}

bool spawn_help(WPARAM wparam, LPARAM lparam) {
  HWND agent = ffipc::find_agent_window();
  if (!agent) return false;
  ffipc::forward_message(agent, ffipc::registered(ffipc::kxmsg::agent_spawn_help), wparam, lparam);
  return call_done();
}

bool spawn_dashboard(WPARAM wparam) {
  HWND agent = ffipc::find_agent_window();
  if (!agent) return false;
  ffipc::forward_message(agent, ffipc::registered(ffipc::kxmsg::agent_spawn_dashboard), wparam, 0);
  return call_done();
}

bool agent_has_fingers() {
  HWND agent = ffipc::find_agent_window();
  if (!agent) return true;
  DWORD_PTR answer = 0;
  // An agent that does not answer in time is taken as one that is not there.
  if (!ffipc::send_window_message(agent, ffipc::registered(ffipc::kxmsg::agent_hasfingers), 0, 0, &answer)) return true;
  return answer != 0;
}

bool gavatar_activation(bool flag, LPARAM value) {
  HWND avatar = ffipc::find_gavatar_window();
  if (!avatar) return false;
  return ffipc::send_window_message(avatar, ffipc::registered(ffipc::kxmsg::agent_gavatar_activation),
                                    (flag ? 0x10000 : 0) | 1, value);
}

}  // namespace ffagent_window
