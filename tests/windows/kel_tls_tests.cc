// The https tests: Kel.dll's transactions through WinINet over TLS, against
// reference seal servers that serve certificates from a test CA. The CA goes
// into the current user's Root store of the (scratch) Wine prefix before any
// TLS connection is made, and is taken out again at the end.
//
// Usage: kel_tls_tests [SERVER_URL FIXTURES_DIR [CODE_PAGE]]
//   FIXTURES_DIR   the folder with the development public key
// The https servers come from the environment:
//   KEL_TEST_CA_FILE          the test CA's certificate (PEM), a Windows path
//   KEL_TEST_HTTPS_URL        a server whose certificate the CA issued for its name
//   KEL_TEST_WRONG_NAME_URL   one whose certificate the CA issued for another name
//   KEL_TEST_SELF_SIGNED_URL  one whose certificate signed itself
// SERVER_URL and CODE_PAGE are ignored, so that one command line serves every
// Windows test program. The program puts the development key as pubkey.key
// beside Kel.dll while it runs. The last line of output is
// "N passed, N failed"; the exit code is 0 only when nothing failed.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/messages.h"
#include "harness.h"
#include "kel/kel.h"

namespace {

std::string Environment(const char *name) {
  const char *value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// The test CA in the current user's Root store for as long as it lives. Each
// change is committed at once: Wine's chain engine reads the Root store from
// the registry, and a registry store writes its changes back only when told
// to or when its last reference goes.
class TrustedCa {
 public:
  explicit TrustedCa(const std::string &pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      return;
    }
    der_.resize(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der_.data(), &size, nullptr, nullptr)) {
      return;
    }
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    if (store == nullptr) return;
    added_ = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der_.data(), size,
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != 0 &&
             CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr) != 0;
    CertCloseStore(store, 0);
  }
  ~TrustedCa() {
    if (!added_) return;
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    PCCERT_CONTEXT ours = CertCreateCertificateContext(X509_ASN_ENCODING, der_.data(),
                                                       static_cast<DWORD>(der_.size()));
    if (store != nullptr && ours != nullptr) {
      PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                        CERT_FIND_EXISTING, ours, nullptr);
      if (found != nullptr && CertDeleteCertificateFromStore(found)) {
        CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
      }
    }
    if (ours != nullptr) CertFreeCertificateContext(ours);
    if (store != nullptr) CertCloseStore(store, 0);
  }
  TrustedCa(const TrustedCa &) = delete;
  TrustedCa &operator=(const TrustedCa &) = delete;
  bool added() const { return added_; }

 private:
  std::vector<BYTE> der_;
  bool added_ = false;
};

void EveryTransaction(Kel &kel, const std::string &server) {
  for (const char *format : {"format=document", "format=framed"}) {
    const std::string url = server + "x?" + format;
    int status = -1;
    CHECK(kel.VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status) == 0);
    CHECK(status == 0 && kel.LastError() == "valid seal");

    char *result = nullptr;
    CHECK(kel.SendSealRecord("alice", "S-1", "over tls", url.c_str(), &result) == 0);
    CHECK(kel.Take(result) == "0,0,recorded");

    char *time = nullptr;
    char *signature = nullptr;
    CHECK(kel.GetServerTime(&time, &signature, "contract", url.c_str()) == 0);
    std::string time_text = kel.Take(time);
    std::string signature_text = kel.Take(signature);
    CHECK(kel.VerifyTimeStamp("contract", time_text.c_str(), signature_text.c_str()) == 0);
  }
}

void Refused(Kel &kel, const std::string &server) {
  int status = 7;
  CHECK(kel.VerifySeal(server.c_str(), "Acme", "S-1", "t", 1, &status) == 1);
  CHECK(status == 1);
  CHECK(kel.LastError() == kel::msg::kServerUnreachable);
}

}  // namespace

int main(int argc, char **argv) {
  const std::string ca_file = Environment("KEL_TEST_CA_FILE");
  const std::string good = Environment("KEL_TEST_HTTPS_URL");
  const std::string wrong_name = Environment("KEL_TEST_WRONG_NAME_URL");
  const std::string self_signed = Environment("KEL_TEST_SELF_SIGNED_URL");
  if (argc < 3 || ca_file.empty() || good.empty() || wrong_name.empty() || self_signed.empty()) {
    std::fprintf(stderr,
                 "usage: kel_tls_tests SERVER_URL FIXTURES_DIR, with KEL_TEST_CA_FILE, "
                 "KEL_TEST_HTTPS_URL, KEL_TEST_WRONG_NAME_URL and KEL_TEST_SELF_SIGNED_URL set\n");
    return 2;
  }
  // First of all: Wine's chain engine reads the Root store once, at the
  // process's first certificate check.
  TrustedCa trusted(ReadFile(ca_file));
  if (!trusted.added()) {
    std::fprintf(stderr, "cannot add the test CA %s to the Root store\n", ca_file.c_str());
    return 2;
  }
  if (!PutDevelopmentKeyBeside(argv[2])) return 2;
  const std::string key_file = OwnFolder() + "\\pubkey.key";
  Kel kel;
  if (!Load(OwnFolder(), &kel)) {
    std::fprintf(stderr, "cannot load Kel.dll from %s\n", OwnFolder().c_str());
    DeleteFileA(key_file.c_str());
    return 2;
  }

  Tally tally;
  RunCase(&tally, "https: every transaction, with a certificate from a trusted CA",
          [&] { EveryTransaction(kel, good); });
  RunCase(&tally, "https: a certificate for another name fails", [&] { Refused(kel, wrong_name); });
  RunCase(&tally, "https: a self-signed certificate fails", [&] { Refused(kel, self_signed); });
  Unload(&kel);
  DeleteFileA(key_file.c_str());

  std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
  return tally.failed == 0 ? 0 : 1;
}
