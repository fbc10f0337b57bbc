// The agent stand-in's demo vault: profiles of invented accounts from a JSON file, handed out as the
// fill-in data for a manifest's form.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "agentcomm/AgentMessages.h"

namespace kxagent {

class vault_t {
 public:
  // Reads the vault at |path|; an empty path, or a file that is missing or no JSON, is an empty vault.
  explicit vault_t(const std::wstring& path);

  // The profile for the manifest's file name and the profile index (any index below 0: the first).
  // The vault keeps a profile's values by role: an item named "user" or "password" goes to the
  // form's user-name or password field of |manifest_text| (form |formindex|), under that field's
  // database name, as the real vault stores them; any other item keeps its own name.
  bool find(const std::u16string& manifest_name, std::int32_t index, const std::string& manifest_text,
            std::int32_t formindex, kxmessages::filldata_t& out) const;

 private:
  static bool iequal(const std::string& a, const std::string& b);
  nlohmann::json data_ = nlohmann::json::object();
};

}  // namespace kxagent
