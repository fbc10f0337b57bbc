#include "environment/ActivationContext.h"

namespace kxenv {
namespace {

HMODULE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

// Released when the process ends.
struct context_t {
  HANDLE handle = INVALID_HANDLE_VALUE;
  context_t() {
    HMODULE module = this_module();
    if (!module || !FindResourceW(module, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24) /* RT_MANIFEST */)) return;
    ACTCTXW ctx{};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = module;
    ctx.lpResourceName = MAKEINTRESOURCEW(2);
    handle = CreateActCtxW(&ctx);
  }
  ~context_t() {
    if (handle != INVALID_HANDLE_VALUE) ReleaseActCtx(handle);
  }
};

}  // namespace

HANDLE module_activation_context() {
  static context_t context;
  return context.handle;
}

module_activation_t::module_activation_t() {
  const HANDLE context = module_activation_context();
  if (context != INVALID_HANDLE_VALUE && !ActivateActCtx(context, &cookie_)) cookie_ = 0;
}

module_activation_t::~module_activation_t() {
  if (cookie_) DeactivateActCtx(0, cookie_);
}

}  // namespace kxenv
