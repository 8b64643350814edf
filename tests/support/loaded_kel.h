// The shipped library loaded the way a host loads it: a copy in a temporary
// folder (with or without pubkey.key beside it) opened with dlopen, its
// exports resolved by name. Each copy is a separate module with its own
// start-up and its own last-error text.
#ifndef KEL_TESTS_SUPPORT_LOADED_KEL_H_
#define KEL_TESTS_SUPPORT_LOADED_KEL_H_

#include <optional>
#include <string>

#include "kel/kel.h"
#include "support/temp_dir.h"

namespace kel::test {

class LoadedKel {
 public:
  // `server_key`: the content of pubkey.key beside the copy, or none.
  // `library`: the shipped library, or another build of it (kel_testing).
  explicit LoadedKel(std::optional<std::string> server_key,
                     const std::string &library = KEL_LIBRARY);
  ~LoadedKel();
  LoadedKel(const LoadedKel &) = delete;
  LoadedKel &operator=(const LoadedKel &) = delete;

  decltype(&::Kel_ReleaseBuf) ReleaseBuf;
  decltype(&::Kel_GetLastErr) GetLastErr;
  decltype(&::Kel_SendSealRecord) SendSealRecord;
  decltype(&::Kel_VerifySeal) VerifySeal;
  decltype(&::Kel_GetServerTime) GetServerTime;
  decltype(&::Kel_VerifyTimeStamp) VerifyTimeStamp;
  decltype(&::Kel_to64frombits) To64FromBits;
  decltype(&::Kel_from64tobits) From64ToBits;
  decltype(&::Kel_GetCiphertext) GetCiphertext;
  decltype(&::Kel_BinToHex) BinToHex;
  decltype(&::Kel_HexToBin) HexToBin;
  decltype(&::Kel_GetRadomString) GetRadomString;
  decltype(&::Kel_AESEncryption) AESEncryption;
  decltype(&::Kel_AESDecryption) AESDecryption;

  // Kel_GetLastErr as a text (the buffer released).
  std::string LastError() const;
  // Takes a library buffer's text and releases the buffer; "" for null.
  std::string Take(char *buffer) const;
  // Any other symbol the copy exports; null when it has none such.
  void *Symbol(const char *name) const;

 private:
  TempDir folder_;
  void *handle_ = nullptr;
};

// The development key files of the test fixtures.
std::string FixtureFile(const std::string &name);

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_LOADED_KEL_H_
