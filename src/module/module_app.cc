#include "module/module_app.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "api/call_gate.h"
#include "api/trace.h"
#include "crypto/built_in_server_key.h"
#include "module/key_text_facts.h"
#include "module/module_path.h"
#include "net/proxy_rules.h"

namespace kel {
namespace {

constexpr char kKeyFileName[] = "pubkey.key";

// The longest value read from a proxy variable: the most one environment
// string can hold on Linux (MAX_ARG_STRLEN), far more than Windows allows.
// A longer value counts as unset.
constexpr unsigned kProxyValueBufferSize = 128 * 1024;

}  // namespace

bool ModuleApp::InitInstance() {
  // Start-up runs inside the loader and must not throw: without memory for
  // the path, the bare name is tried.
  std::unique_ptr<char[]> path(new (std::nothrow) char[kModulePathBufferSize]());
  // A path that does not fit (or an unknown module path) counts as no file
  // beside the library; the bare name then resolves against the current
  // directory. Testing the result as well as FileExists keeps a leftover
  // module file name in the buffer from ever being loaded as the key.
  bool beside = path != nullptr &&
                GetModuleFilePath(OwnModule(), kKeyFileName, path.get(), kModulePathBufferSize) &&
                FileExists(path.get());
  const char *key_file = beside ? path.get() : kKeyFileName;
  LoadServerKey(key_file);
  StartTrace(key_file);
  ReadProxySettings();
  return true;
}

void ModuleApp::ReadProxySettings() {
  // Read once, here, like KEL_TRACE: every exchange decides from this copy.
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kProxyValueBufferSize]);
  if (buffer == nullptr) return;
  try {
    SetProxyVariables(ReadProxyVariables([&buffer](const char *name, std::string *value) {
      if (!EnvironmentValue(name, buffer.get(), kProxyValueBufferSize)) return false;
      *value = buffer.get();
      return true;
    }));
  } catch (...) {
    // No memory for the values: exchanges go direct.
  }
}

void ModuleApp::StartTrace(const char *key_file) {
  // The variable is read once, here: a host that changes its environment
  // later changes nothing, and no exchange ever reads the environment.
  std::unique_ptr<char[]> setting(new (std::nothrow) char[kModulePathBufferSize]());
  if (setting == nullptr ||
      !EnvironmentValue(trace::kVariable, setting.get(), kModulePathBufferSize)) {
    return;
  }
  trace::Start(setting.get());
  if (!trace::Enabled()) return;
  try {
    trace::Line("start")
        .Add("key_file", key_file)
        .Add("key_bytes", static_cast<std::uint64_t>(server_key_.Length()))
        .Add("key_form", KeyTextForm(server_key_.Data()))
        .Add("key_sha256", KeyFingerprint(server_key_.Data()))
        .Add("builtin_key_sha256", KeyFingerprint(kBuiltInServerKey))
        .Write();
  } catch (...) {
    // No memory for the line: the trace goes on without it.
  }
}

ModuleApp &TheModuleApp() {
  static ModuleStatic<ModuleApp> app;
  return app.get();
}

}  // namespace kel
