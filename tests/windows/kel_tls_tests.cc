// The https tests: Kel.dll's transactions through WinINet over TLS, against
// reference seal servers that serve certificates from a test CA. The CA goes
// into the current user's Root store of the (scratch) Wine prefix before any
// TLS connection is made, and is taken out again at the end.
//
// The servers come from the environment:
//   KEL_TEST_CA_FILE          the test CA's certificate (PEM), a Windows path
//   KEL_TEST_HTTPS_URL        a server whose certificate the CA issued for its name
//   KEL_TEST_WRONG_NAME_URL   one whose certificate the CA issued for another name
//   KEL_TEST_SELF_SIGNED_URL  one whose certificate signed itself
// The program puts the development key as pubkey.key beside Kel.dll while
// it runs.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "api/messages.h"
#include "kel/kel.h"
#include "kel_dll.h"

namespace {

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

// The CA trusted and Kel.dll loaded, with the development key beside it,
// for the whole program: Wine's chain engine reads the Root store once, at
// the process's first certificate check, so the CA goes in first of all.
class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ca_file = Setting("KEL_TEST_CA_FILE");
    trusted_ = new TrustedCa(ReadWholeFile(ca_file));
    key_ = new KeyBesideProgram;
    problem_ = !trusted_->added() ? "cannot add the test CA " + ca_file + " to the Root store"
               : !key_->written() ? "cannot write " + key_->path()
               : !LoadKel(ProgramFolder(), &kel_) ? "cannot load Kel.dll from " + ProgramFolder()
                                                  : "";
  }
  static void TearDownTestSuite() {
    if (kel_.module != nullptr) UnloadKel(&kel_);
    delete key_;
    delete trusted_;
  }
  void SetUp() override { ASSERT_EQ(problem_, ""); }

  // The URL in `setting`, which must be set.
  static std::string Server(const char *setting) {
    std::string url = Setting(setting);
    EXPECT_NE(url, "") << setting << " is not set";
    return url;
  }

  static void Refused(const std::string &server) {
    int status = 7;
    EXPECT_EQ(kel_.VerifySeal(server.c_str(), "Acme", "S-1", "t", 1, &status), 1);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kel_.LastError(), kel::msg::kServerUnreachable);
  }

  static inline Kel kel_;
  static inline TrustedCa *trusted_ = nullptr;
  static inline KeyBesideProgram *key_ = nullptr;
  static inline std::string problem_;
};

TEST_F(TlsTest, EveryTransactionWithACertificateFromATrustedCa) {
  const std::string server = Server("KEL_TEST_HTTPS_URL");
  for (const char *format : {"format=document", "format=framed"}) {
    SCOPED_TRACE(format);
    const std::string url = server + "x?" + format;
    int status = -1;
    EXPECT_EQ(kel_.VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kel_.LastError(), "valid seal");

    char *result = nullptr;
    EXPECT_EQ(kel_.SendSealRecord("alice", "S-1", "over tls", url.c_str(), &result), 0);
    EXPECT_EQ(kel_.Take(result), "0,0,recorded");

    char *time = nullptr;
    char *signature = nullptr;
    EXPECT_EQ(kel_.GetServerTime(&time, &signature, "contract", url.c_str()), 0);
    std::string time_text = kel_.Take(time);
    std::string signature_text = kel_.Take(signature);
    EXPECT_EQ(kel_.VerifyTimeStamp("contract", time_text.c_str(), signature_text.c_str()), 0);
  }
}

TEST_F(TlsTest, ACertificateForAnotherNameFails) { Refused(Server("KEL_TEST_WRONG_NAME_URL")); }

TEST_F(TlsTest, ASelfSignedCertificateFails) { Refused(Server("KEL_TEST_SELF_SIGNED_URL")); }

}  // namespace
