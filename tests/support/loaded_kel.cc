#include "support/loaded_kel.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kel::test {
namespace {

template <typename Function>
void Resolve(void *handle, const char *name, Function *function) {
  void *symbol = dlsym(handle, name);
  if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  *function = reinterpret_cast<Function>(symbol);
}

}  // namespace

LoadedKel::LoadedKel(std::optional<std::string> server_key, const std::string &library) {
  fs::path original = library;
  for (const auto &entry : fs::directory_iterator(original.parent_path())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("libkestro", 0) == 0) fs::copy_file(entry.path(), folder_ / name);
  }
  fs::path copy = folder_ / original.filename();
  fs::copy_file(original, copy);
  if (server_key) WriteFile(folder_ / "pubkey.key", *server_key);

  // Never unmapped: LeakSanitizer's exit-time scan trips over a module that
  // was loaded and unloaded again. Each copy still starts fresh.
  handle_ = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  Resolve(handle_, "Kel_ReleaseBuf", &ReleaseBuf);
  Resolve(handle_, "Kel_GetLastErr", &GetLastErr);
  Resolve(handle_, "Kel_SendSealRecord", &SendSealRecord);
  Resolve(handle_, "Kel_VerifySeal", &VerifySeal);
  Resolve(handle_, "Kel_GetServerTime", &GetServerTime);
  Resolve(handle_, "Kel_VerifyTimeStamp", &VerifyTimeStamp);
  Resolve(handle_, "Kel_to64frombits", &To64FromBits);
  Resolve(handle_, "Kel_from64tobits", &From64ToBits);
  Resolve(handle_, "Kel_GetCiphertext", &GetCiphertext);
  Resolve(handle_, "Kel_BinToHex", &BinToHex);
  Resolve(handle_, "Kel_HexToBin", &HexToBin);
  Resolve(handle_, "Kel_GetRadomString", &GetRadomString);
  Resolve(handle_, "Kel_AESEncryption", &AESEncryption);
  Resolve(handle_, "Kel_AESDecryption", &AESDecryption);
}

LoadedKel::~LoadedKel() {
  if (handle_ != nullptr) dlclose(handle_);
}

void *LoadedKel::Symbol(const char *name) const { return dlsym(handle_, name); }

std::string LoadedKel::LastError() const { return Take(GetLastErr()); }

std::string LoadedKel::Take(char *buffer) const {
  if (buffer == nullptr) return std::string();
  std::string text = buffer;
  ReleaseBuf(buffer);
  return text;
}

std::string FixtureFile(const std::string &name) {
  return ReadFile(fs::path(KEL_FIXTURES_DIR) / name);
}

}  // namespace kel::test
