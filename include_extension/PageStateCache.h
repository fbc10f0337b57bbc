// Per-document bookkeeping of the component: the requests that wait for the agent's answer, and the
// recognition result of each document. Both are keyed by document ID and have a lock of their own.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace kxext {

// Operation kinds of a pending request.
enum operation_kind : std::int32_t {
  op_none = 0,
  op_createmani = 1,
  op_modifyprof = 2,
  op_preparefillindata = 3,
  op_changepassword = 4,
};

struct PendingRequest {
  std::int32_t currentoperation = op_none;  // 0: the slot is free
};

class CRequestTable {
 public:
  bool add(std::uint32_t id, const PendingRequest& request) {
    std::lock_guard<std::mutex> g(lock_);
    return map_.emplace(id, request).second;
  }
  bool remove(std::uint32_t id) {
    std::lock_guard<std::mutex> g(lock_);
    return map_.erase(id) != 0;
  }
  bool find(std::uint32_t id, PendingRequest& out) const {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(id);
    if (it == map_.end()) return false;
    out = it->second;
    return true;
  }

 private:
  mutable std::mutex lock_;
  std::map<std::uint32_t, PendingRequest> map_;
};

struct PageState {};

class CPageStateCache {
 public:
  void erase(std::uint32_t id) {
    std::lock_guard<std::mutex> g(lock_);
    map_.erase(id);
  }

 private:
  std::map<std::uint32_t, PageState> map_;
  mutable std::mutex lock_;
};

}  // namespace kxext
