// What the Windows test programs share: a minimal check harness, and Kel.dll
// loaded with LoadLibraryA with its exports resolved by name, as a host
// application loads it. Each program is one translation unit.
#ifndef KEL_TESTS_WINDOWS_HARNESS_H_
#define KEL_TESTS_WINDOWS_HARNESS_H_

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "kel/kel.h"

// ---- A minimal check harness ---------------------------------------------

inline bool g_case_failed = false;

inline void Check(bool ok, const char *what, int line) {
  if (ok) return;
  std::printf("    line %d: %s\n", line, what);
  g_case_failed = true;
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

struct Tally {
  int passed = 0;
  int failed = 0;
};

inline void RunCase(Tally *tally, const char *name, const std::function<void()> &body) {
  g_case_failed = false;
  body();
  std::printf("[%s] %s\n", g_case_failed ? "FAIL" : " OK ", name);
  ++(g_case_failed ? tally->failed : tally->passed);
}

// ---- The library, loaded ---------------------------------------------------

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

template <typename Function>
bool Resolve(HMODULE module, const char *name, Function *function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  return *function != nullptr;
}

// Loads the Kel.dll in `folder`; DllMain reads pubkey.key as the library
// starts. False when the library or one of its exports is missing.
inline bool Load(const std::string &folder, Kel *kel) {
  *kel = Kel();
  kel->module = LoadLibraryA((folder + "\\Kel.dll").c_str());
  if (kel->module == nullptr) return false;
  bool all = true;
#define KEL_RESOLVE(name, ordinal) all = Resolve(kel->module, "Kel_" #name, &kel->name) && all;
  KEL_EXPORTS(KEL_RESOLVE)
#undef KEL_RESOLVE
  return all;
}

// Unloads the library completely, so that the next Load starts it afresh.
inline bool Unload(Kel *kel) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(kel->module, path, MAX_PATH);
  FreeLibrary(kel->module);
  kel->module = nullptr;
  return GetModuleHandleA(path) == nullptr;
}

// ---- Files -------------------------------------------------------------------

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  return static_cast<bool>(out);
}

// The full path of this program, and the folder it runs from.
inline std::string OwnPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

inline std::string OwnFolder() {
  std::string path = OwnPath();
  return path.substr(0, path.rfind('\\'));
}

// Writes the development public key from `fixtures` as pubkey.key beside
// this program (and so beside its Kel.dll). False, with a message on
// stderr, when it cannot.
inline bool PutDevelopmentKeyBeside(const std::string &fixtures) {
  const std::string key = ReadFile(fixtures + "\\dev-only-document-server-key.pub");
  const std::string key_file = OwnFolder() + "\\pubkey.key";
  if (key.empty() || !WriteFile(key_file, key)) {
    std::fprintf(stderr, "cannot put the development key from %s into %s\n", fixtures.c_str(),
                 key_file.c_str());
    return false;
  }
  return true;
}

#endif  // KEL_TESTS_WINDOWS_HARNESS_H_
