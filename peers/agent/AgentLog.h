// The agent stand-in's log: one JSON object a line, numbered in the order written ("seq"), with the
// messages it receives written out by their own field lists.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "agentcomm/AgentMessages.h"
#include "tracecore/utf.h"

namespace kxagent {

// Appends to the file at |path| (empty: writes nowhere); safe to write from any thread.
class log_t {
 public:
  explicit log_t(const std::wstring& path);
  ~log_t();
  void write(nlohmann::json entry);

 private:
  std::mutex lock_;
  std::FILE* file_ = nullptr;
  std::uint64_t seq_ = 0;
};

// --- messages as JSON, walked by their own field lists ---

class json_binder_t {
 public:
  explicit json_binder_t(nlohmann::json& out) : out_(out) {}
  bool field(const char* key, std::int32_t& v) { out_[key] = v; return true; }
  bool field(const char* key, bool& v) { out_[key] = v; return true; }
  bool field(const char* key, serialization::StorageNamed::InMemStorageSpace::rect_t& v) {
    out_[key] = {v.left, v.top, v.right, v.bottom};
    return true;
  }
  bool field(const char* key, std::string& v) { out_[key] = v; return true; }
  bool field(const char* key, std::u16string& v) { out_[key] = tracecore::to_utf8(v); return true; }
  template <class M>
  bool section(const char* key, M& m) {
    nlohmann::json sub = nlohmann::json::object();
    json_binder_t inner(sub);
    m.bind(inner);
    out_[key] = std::move(sub);
    return true;
  }
  template <class M>
  bool array(const char* key, std::vector<M>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (M& item : items) {
      nlohmann::json sub = nlohmann::json::object();
      json_binder_t inner(sub);
      item.bind(inner);
      list.push_back(std::move(sub));
    }
    out_[key] = std::move(list);
    return true;
  }

 private:
  nlohmann::json& out_;
};

template <class M>
nlohmann::json to_json(M& message) {
  nlohmann::json out = nlohmann::json::object();
  json_binder_t binder(out);
  message.bind(binder);
  return out;
}

// The name of one of the component's registered messages; the number for any other.
std::string message_label(UINT message);

}  // namespace kxagent
