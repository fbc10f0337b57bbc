// The module record by which the browser finds the component, the library's attach and detach, and
// the component's tracer.
#include <windows.h>

#include <optional>

#include "feedback/FeedbackUI.h"
#include "include_extension/ExtensionImpl.h"
#include "module/module_state.h"
#include "tracecore/realtracer.h"
#include "tracecore/trace.h"
#include "xpcom/Module.h"

namespace {

const nsCID kClassID = KXAGENTCLIENT_CID;

// The class-ID entry's constructor: the component with its feedback UI.
nsresult KXAgentClientConstructor(nsISupports* outer, const nsIID& iid, void** result) {
  return CreateKXAgentClient(outer, iid, result, &ffagent_window::make_feedback_ui);
}

const mozilla::Module::CIDEntry kClassIDs[] = {
    {&kClassID, false, nullptr, &KXAgentClientConstructor},
    {nullptr, false, nullptr, nullptr},
};

const mozilla::Module::ContractIDEntry kContracts[] = {
    {KXAGENTCLIENT_CONTRACTID, &kClassID},
    {nullptr, nullptr},
};

const mozilla::Module::CategoryEntry kCategories[] = {
    {"my-category", "my-key", KXAGENTCLIENT_CONTRACTID},
    {nullptr, nullptr, nullptr},
};

const mozilla::Module kModule = {
    mozilla::Module::kVersion, kClassIDs, kContracts, kCategories, nullptr, nullptr, nullptr,
};

// The tracer lives from attach to detach.
std::optional<tracecore::realtracer_t> g_tracer;

void register_dialog_class(HINSTANCE instance) {
  WNDCLASSW wc{};
  if (!GetClassInfoW(nullptr, MAKEINTATOM(32770), &wc)) return;
  wc.hInstance = instance;
  wc.lpszClassName = L"KX_IDV_MS_DIALOG";
  RegisterClassW(&wc);
}

}  // namespace

extern "C" NS_EXPORT const mozilla::Module* const NSModule = &kModule;

namespace kxmodule {

HINSTANCE g_instance = nullptr;

void attach(HINSTANCE instance) {
  g_instance = instance;
  DisableThreadLibraryCalls(instance);
  g_tracer.emplace(instance);
  tracecore::install(&*g_tracer);
  register_dialog_class(instance);
}

void detach(bool process_ending) {
  tracecore::shutdown();
  tracecore::install(nullptr);
  // When the process is ending other threads are gone mid-flight: leave the tracer's locks alone.
  if (!process_ending) g_tracer.reset();
}

}  // namespace kxmodule

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      kxmodule::attach(instance);
      break;
    case DLL_PROCESS_DETACH:
      kxmodule::detach(reserved != nullptr);
      break;
    default:
      break;
  }
  return TRUE;
}
