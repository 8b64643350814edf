// The module's one application object: it owns the server's public key text,
// read from pubkey.key when the library is loaded.
#ifndef KEL_MODULE_MODULE_APP_H_
#define KEL_MODULE_MODULE_APP_H_

#include "module/key_file_buffer.h"

namespace kel {

class ModuleApp {
 public:
  // Loads pubkey.key from the library's own directory, or else from the
  // current directory, switches the trace on when KEL_TRACE names a file
  // (api/trace.h), and reads the proxy variables (net/proxy_rules.h). Never
  // fails: a missing file leaves the key empty.
  bool InitInstance();

  const KeyFileBuffer &ServerKey() const { return server_key_; }

  // Replaces the key with the file at `path` (see KeyFileBuffer::Load),
  // without a byte-order mark before the key text or white space after it.
  // Start-up uses it once; tests use it to choose a key.
  void LoadServerKey(const char *path) {
    server_key_.Load(path);
    server_key_.TrimKeyText();
  }

 private:
  // Reads KEL_TRACE and, with the trace on, writes its first line: which key
  // file start-up read (`key_file`), how many bytes it held, the form of its
  // key text, and the fingerprints of that key and of the built-in one.
  void StartTrace(const char *key_file);

  // Reads the proxy variables for every later exchange; none when memory
  // runs out.
  static void ReadProxySettings();

  // Written only during start-up, under the loader's serialisation; read
  // without a lock afterwards.
  KeyFileBuffer server_key_;
};

// The one instance, alive from load to unload.
ModuleApp &TheModuleApp();

// The loaded key, for the verifying steps.
inline const KeyFileBuffer &ServerKey() { return TheModuleApp().ServerKey(); }

}  // namespace kel

#endif  // KEL_MODULE_MODULE_APP_H_
