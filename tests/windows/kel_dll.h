// What the Windows test programs share: Kel.dll loaded with LoadLibraryA
// with its exports resolved by name, as a host application loads it, and the
// files and settings the tests run with.
#ifndef KEL_TESTS_WINDOWS_KEL_DLL_H_
#define KEL_TESTS_WINDOWS_KEL_DLL_H_

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "kel/kel.h"

#define KEL_EXPORTS(X)   \
  X(AESDecryption, 1)    \
  X(AESEncryption, 2)    \
  X(BinToHex, 3)         \
  X(GetCiphertext, 4)    \
  X(GetLastErr, 5)       \
  X(GetRadomString, 6)   \
  X(GetServerTime, 7)    \
  X(HexToBin, 8)         \
  X(ReleaseBuf, 9)       \
  X(SendSealRecord, 10)  \
  X(VerifySeal, 11)      \
  X(VerifyTimeStamp, 12) \
  X(from64tobits, 13)    \
  X(to64frombits, 14)

struct Kel {
  HMODULE module = nullptr;
#define KEL_MEMBER(name, ordinal) decltype(&::Kel_##name) name = nullptr;
  KEL_EXPORTS(KEL_MEMBER)
#undef KEL_MEMBER

  // Copies a library-owned buffer and releases it; "<null>" for null.
  std::string Take(char *buffer) {
    if (buffer == nullptr) return "<null>";
    std::string text(buffer);
    ReleaseBuf(buffer);
    return text;
  }
  std::string LastError() { return Take(GetLastErr()); }
};

// Resolves `name` in `module` into `function`; false when it is missing.
template <typename Function>
bool ResolveExport(HMODULE module, const char *name, Function *function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  return *function != nullptr;
}

// Loads the Kel.dll in `folder`; DllMain reads pubkey.key as the library
// starts. False when the library or one of its exports is missing.
inline bool LoadKel(const std::string &folder, Kel *kel) {
  *kel = Kel();
  kel->module = LoadLibraryA((folder + "\\Kel.dll").c_str());
  if (kel->module == nullptr) return false;
  bool all = true;
#define KEL_RESOLVE(name, ordinal) \
  all = ResolveExport(kel->module, "Kel_" #name, &kel->name) && all;
  KEL_EXPORTS(KEL_RESOLVE)
#undef KEL_RESOLVE
  return all;
}

// Unloads the library completely, so that the next LoadKel starts it afresh.
inline bool UnloadKel(Kel *kel) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(kel->module, path, MAX_PATH);
  FreeLibrary(kel->module);
  kel->module = nullptr;
  return GetModuleHandleA(path) == nullptr;
}

// ---- Files and settings ------------------------------------------------------

inline std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteWholeFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  return static_cast<bool>(out);
}

// The full path of this program, and the folder it runs from.
inline std::string ProgramPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

inline std::string ProgramFolder() {
  std::string path = ProgramPath();
  return path.substr(0, path.rfind('\\'));
}

// A setting from the environment (run_in_wine.sh passes the servers' URLs and
// the fixtures folder this way); empty when unset.
inline std::string Setting(const char *name) {
  const char *value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// The development public key, from the fixtures folder KEL_TEST_FIXTURES.
inline std::string DevelopmentKey(const char *file = "dev-only-document-server-key.pub") {
  return ReadWholeFile(Setting("KEL_TEST_FIXTURES") + "\\" + file);
}

// pubkey.key beside this program (and so beside its Kel.dll) while it lives.
class KeyBesideProgram {
 public:
  KeyBesideProgram()
      : path_(ProgramFolder() + "\\pubkey.key"),
        written_(!DevelopmentKey().empty() && WriteWholeFile(path_, DevelopmentKey())) {}
  ~KeyBesideProgram() { DeleteFileA(path_.c_str()); }
  KeyBesideProgram(const KeyBesideProgram &) = delete;
  KeyBesideProgram &operator=(const KeyBesideProgram &) = delete;
  bool written() const { return written_; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  bool written_;
};

#endif  // KEL_TESTS_WINDOWS_KEL_DLL_H_
