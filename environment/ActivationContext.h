// The module's own activation context (from its manifest resource 2, which asks for version 6 of the
// common controls), made active around loads of libraries and creation of common-control windows:
//
//   { kxenv::module_activation_t active; make_the_balloon_tooltip(); }
//
// Without a manifest resource in the module the scope does nothing.
#pragma once

#include <windows.h>

namespace kxenv {

class module_activation_t {
 public:
  module_activation_t();
  ~module_activation_t();
  module_activation_t(const module_activation_t&) = delete;
  module_activation_t& operator=(const module_activation_t&) = delete;
  bool active() const { return cookie_ != 0; }

 private:
  ULONG_PTR cookie_ = 0;
};

// The module's context, made once per process; INVALID_HANDLE_VALUE when the module has none.
HANDLE module_activation_context();

}  // namespace kxenv
