// The agent stand-in's manifest store: the manifest files of one folder, and the lookup cache over
// them ("KX_VLT_LOOKUP_CACHE"), written anew whenever the store changes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "tracecore/win_handles.h"

namespace kxagent {

class store_t {
 public:
  explicit store_t(std::filesystem::path dir);

  // Stores |text| under the file part of |name| (a prefix such as "vlt::" and any folders are
  // dropped: a peer's name never leaves the store). Returns the stored path, empty on failure.
  std::filesystem::path store(const std::string& name, std::string_view text);
  // The text of the stored file |name| (its file part); empty when there is none.
  std::string read(const std::u16string& name);
  void refresh();
  std::size_t entries() const { return entries_; }

 private:
  void refresh_locked();

  std::filesystem::path dir_;
  std::mutex lock_;
  tracecore::unique_handle section_;
  tracecore::unique_view view_;
  std::size_t entries_ = 0;
};

}  // namespace kxagent
