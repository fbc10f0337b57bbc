#include "peers/agent/AgentLog.h"

#include "agentcomm/transport/RegisteredMessages.h"

namespace kxagent {

using nlohmann::json;
using tracecore::to_utf8;

log_t::log_t(const std::wstring& path) {
  if (!path.empty()) file_ = _wfopen(path.c_str(), L"ab");
}

log_t::~log_t() {
  if (file_) std::fclose(file_);
}

void log_t::write(json entry) {
  std::lock_guard<std::mutex> g(lock_);
  entry["seq"] = ++seq_;
  const std::string line = entry.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  if (file_) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }
}

std::string message_label(UINT message) {
  for (int i = 0; i < static_cast<int>(ffipc::kxmsg::count_); ++i) {
    const auto m = static_cast<ffipc::kxmsg>(i);
    if (ffipc::registered(m) == message) return to_utf8(std::wstring_view(ffipc::message_name(m)));
  }
  return std::to_string(message);
}

}  // namespace kxagent
