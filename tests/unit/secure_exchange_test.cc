// Decoding of server answers, with answers made by the provider's server-side
// functions under a fixed response key, and the rows that only a provider
// that raises can produce.
#include "seal/secure_exchange.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "api/last_error.h"
#include "api/messages.h"
#include "crypto/provider.h"
#include "kel/kel.h"
#include "kestro/kestro.h"
#include "module/module_app.h"
#include "net/http_transport.h"
#include "seal/verdict.h"
#include "seal_server.h"
#include "support/loaded_kel.h"
#include "support/temp_dir.h"

namespace kel {
namespace {

const std::string kKey = "0123456789abcdef";
const std::string kTag = kResponseFrameTag;

std::string TakeProviderText(char *text) {
  std::string copy = text != nullptr ? text : "";
  void *buffer = text;
  Ecc_Free(&buffer);
  return copy;
}

std::string Encrypt(const std::string &plaintext) {
  return TakeProviderText(AES_Encryption_CH(kKey.c_str(), plaintext.c_str()));
}

std::string Sign(const std::string &key_file, const std::string &data) {
  std::string pem = test::FixtureFile(key_file);
  return TakeProviderText(ECDSA_Sign_CH(pem.c_str(), "sha512",
                                        reinterpret_cast<const unsigned char *>(data.data()),
                                        static_cast<int>(data.size())));
}

std::string Field8(long long value) {
  char field[16];
  std::snprintf(field, sizeof field, "%08lld", value);
  return field;
}

// A framed body whose payload carries `signature` and `content`.
std::string Frame(const std::string &signature, const std::string &content,
                  const std::string &payload_length = "") {
  std::string payload = Encrypt(kTag + Field8(signature.size()) + signature + content);
  return "before " + kTag + (payload_length.empty() ? Field8(payload.size()) : payload_length) +
         payload;
}

std::string FramedSign(const std::string &content) {
  return Sign("dev-only-document-server-key.pem", content);
}

struct Decoded {
  ExchangeStatus status;
  std::string result;
  std::string signature;  // empty when the answer carried none
  std::string error;      // the message the exchange reports
};

Decoded Decode(const std::string &body) {
  ExchangeOutcome outcome = DecodeAnswer(body, kKey.c_str());
  const char *message = ExchangeMessage(outcome.status);
  return {outcome.status, std::string(outcome.result.c_str(), outcome.result.size()),
          outcome.signature, message != nullptr ? message : ""};
}

class SecureExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir_ / "pubkey.key", test::FixtureFile("dev-only-document-server-key.pub"));
    TheModuleApp().LoadServerKey((dir_ / "pubkey.key").c_str());
  }
  void TearDown() override { TheModuleApp().LoadServerKey((dir_ / "missing").c_str()); }

  test::TempDir dir_;
};

TEST_F(SecureExchangeTest, FramedAnswerVerifiesAgainstTheBuiltInKey) {
  std::string content = "0,0,fine";
  // ECDSA signatures differ on every call: the one signed is the one expected.
  std::string signature = FramedSign(content);
  Decoded decoded = Decode(Frame(signature, content) + " trailing");
  EXPECT_EQ(decoded.result, content);
  EXPECT_EQ(decoded.signature, signature);
  EXPECT_EQ(decoded.error, "");
}

TEST_F(SecureExchangeTest, FramedBodyEndsAtItsFirstZeroByte) {
  std::string content = "0,0,fine";
  std::string frame = Frame(FramedSign(content), content, "99999999");
  // The over-long payload takes the rest of the text, which ends at the zero.
  EXPECT_EQ(Decode(frame + std::string(1, '\0') + "junk").result, content);
  EXPECT_EQ(Decode(frame + "junk").error, msg::kAnswerDecryptFailed);
}

TEST_F(SecureExchangeTest, FirstTagCountsAndPayloadLengthPastTheEndTakesTheRest) {
  std::string content = "abc";
  std::string good = Frame(FramedSign(content), content, "99999999");
  Decoded decoded = Decode(good + Frame(FramedSign("other"), "other"));
  // The second frame is part of the "rest" and breaks the base64: the first
  // tag is the one read, and its over-long length takes everything behind it.
  EXPECT_EQ(decoded.result, "");
  EXPECT_EQ(decoded.error, msg::kAnswerDecryptFailed);
  EXPECT_EQ(Decode(good).result, content);
  EXPECT_EQ(Decode(Frame(FramedSign(content), content, "-0000001")).result, content);
}

TEST_F(SecureExchangeTest, PayloadLengthWithoutDigitsGivesAnEmptyPayload) {
  for (const std::string &body :
       {Frame(FramedSign("x"), "x", "00000000"), Frame(FramedSign("x"), "x", "abcdefgh"),
        // The body ends exactly behind the length field.
        "before " + kTag + "00000010"}) {
    Decoded decoded = Decode(body);
    EXPECT_EQ(decoded.result, "") << body;
    EXPECT_EQ(decoded.error, msg::kAnswerDecryptFailed) << body;
    EXPECT_EQ(decoded.signature, "") << body;
  }
}

TEST_F(SecureExchangeTest, SignatureLengthReachingTheEndGivesAnEmptyVerifiedContent) {
  Decoded decoded = Decode(Frame(FramedSign(""), ""));
  EXPECT_EQ(decoded.result, "");
  EXPECT_EQ(decoded.error, "") << "an empty verified content reports nothing";
  EXPECT_FALSE(decoded.signature.empty());
}

TEST_F(SecureExchangeTest, FramedSignatureIsHandedOutEvenWhenItFails) {
  std::string signature = FramedSign("other content");
  Decoded decoded = Decode(Frame(signature, "content"));
  EXPECT_EQ(decoded.result, "");
  EXPECT_EQ(decoded.error, msg::kAnswerNotVerified);
  EXPECT_EQ(decoded.signature, signature);
}

TEST_F(SecureExchangeTest, UnusableFramesEndWithTheFormatMessage) {
  std::string signature = FramedSign("c");
  for (const std::string &body :
       {kTag + "1234567", "x" + kTag,
        kTag + Field8(Encrypt(kTag + "-0000001" + signature + "c").size()) +
            Encrypt(kTag + "-0000001" + signature + "c"),
        kTag + Field8(Encrypt(kTag + "99999999" + signature).size()) +
            Encrypt(kTag + "99999999" + signature),
        kTag + Field8(Encrypt(kTag + "0000").size()) + Encrypt(kTag + "0000"),
        // A payload without the inner tag.
        kTag + Field8(Encrypt("no tag here").size()) + Encrypt("no tag here")}) {
    Decoded decoded = Decode(body);
    EXPECT_EQ(decoded.result, "") << body;
    EXPECT_EQ(decoded.error, msg::kBadAnswerFormat) << body;
    EXPECT_EQ(decoded.signature, "") << body;
  }
}

// Every document row that fails before "sign" is read leaves the
// signature alone.
TEST_F(SecureExchangeTest, FailedDocumentAnswersLeaveTheSignatureUntouched) {
  struct Row {
    std::string body;
    const char *error;
  };
  const std::string bad_sign = Sign("dev-only-document-server-key.pem", "other");
  for (const Row &row : {
           Row{"<other>x</other>", msg::kBadAnswerFormat},
           Row{"<data>not base64 at all</data>", msg::kAnswerDecryptFailed},
           Row{"<data>" + Encrypt("<a>unclosed") + "</data>", msg::kBadAnswerFormat},
           Row{"<data>" + Encrypt("<status>0</status><order>status</order>") + "</data>",
               msg::kBadAnswerFormat},
           Row{"<data>" + Encrypt("<status>0</status><sign>" + bad_sign + "</sign>") + "</data>",
               msg::kBadAnswerFormat},
           Row{"<data>" +
                   Encrypt("<status>0</status><order>status</order><sign>" + bad_sign + "</sign>") +
                   "</data>",
               msg::kAnswerNotVerified},
       }) {
    Decoded decoded = Decode(row.body);
    EXPECT_EQ(decoded.result, "") << row.body;
    EXPECT_EQ(decoded.error, row.error) << row.body;
    EXPECT_EQ(decoded.signature, "") << row.body;
  }
}

TEST_F(SecureExchangeTest, PartOfTheTagIsADocumentAnswer) {
  // A text without elements is a document; it has no "data".
  Decoded decoded = Decode(kTag.substr(0, 17) + "00000000");
  EXPECT_EQ(decoded.result, "");
  EXPECT_EQ(decoded.error, msg::kBadAnswerFormat);
}

// An inner document whose "sign" covers `signed_data`, with the given fields.
std::string Document(const std::string &fields, const std::string &order,
                     const std::string &signed_data) {
  std::string sign = Sign("dev-only-document-server-key.pem", signed_data);
  return "<data>" + Encrypt(fields + "<order>" + order + "</order><sign>" + sign + "</sign>") +
         "</data>";
}

struct OrderCase {
  const char *order;
  const char *signed_data;  // what the order list must select
};

TEST_F(SecureExchangeTest, OrderListSelectsTheSignedFields) {
  const std::string fields = "<a>A</a><b>B</b><></><status>0</status><desc>d</desc>";
  for (OrderCase c :
       {OrderCase{"a,,b", "AB"}, OrderCase{",a", "A"}, OrderCase{"a,", "A"}, OrderCase{",", ""},
        OrderCase{"a,missing,b", "AB"}, OrderCase{"b,a", "BA"}, OrderCase{"status,desc", "0d"}}) {
    Decoded decoded = Decode(Document(fields, c.order, c.signed_data));
    EXPECT_EQ(decoded.result, "0,0,d") << c.order;
    EXPECT_EQ(decoded.error, "") << c.order;
  }
  // The empty name is looked up too: with it, "a,,b" covers "A" + "" + "B".
  Decoded decoded = Decode(Document("<a>A</a><b>B</b><>E</>", "a,,b", "AEB"));
  EXPECT_EQ(decoded.error, msg::kBadAnswerFormat) << "verified; no result fields";
}

// "order" may name a field again and again. An answer may repeat its fields
// in the signed data up to a multiple of its own size; beyond that it is
// refused before the data is built, so a small answer cannot make the host
// hold gigabytes.
TEST_F(SecureExchangeTest, SignedDataIsBoundedByTheAnswersSize) {
  struct Row {
    std::size_t value_size;
    int repeats;
    bool verifies;
  };
  for (Row row : {Row{100, 4, true}, Row{400, 2, true}, Row{100, 200, false}}) {
    const std::string value(row.value_size, 'v');
    const std::string fields = "<status>0</status><desc>d</desc><a>" + value + "</a>";
    std::string order = "status,desc";
    std::string signed_data = "0d";
    for (int i = 0; i < row.repeats; ++i) {
      order += ",a";
      signed_data += value;
    }
    Decoded decoded = Decode(Document(fields, order, signed_data));
    if (row.verifies) {
      EXPECT_EQ(decoded.result, "0,0,d") << row.repeats;
      EXPECT_EQ(decoded.error, "") << row.repeats;
    } else {
      EXPECT_EQ(decoded.result, "") << row.repeats;
      EXPECT_EQ(decoded.error, msg::kBadAnswerFormat) << row.repeats;
      EXPECT_EQ(decoded.signature, "");
    }
  }
}

// A known weakness of the protocol, pinned so that the documentation stays
// true: the time service signs content of the caller's choice followed by
// the date, with the key that signs verdicts, and the signed fields carry no
// label. The signature of a time stamp on "valid seal; " then verifies a
// document whose status is empty (read as 0) and whose description is the
// stamped text.
TEST_F(SecureExchangeTest, ATimeStampsSignatureVerifiesAsAVerdict) {
  const std::string stamped = std::string("valid seal; ") + "2026-12-08 10:00:00";
  const std::string time_stamp_signature = Sign("dev-only-document-server-key.pem", stamped);
  Decoded decoded =
      Decode("<data>" +
             Encrypt("<status></status><desc>" + stamped +
                     "</desc><order>status,desc</order><sign>" + time_stamp_signature + "</sign>") +
             "</data>");
  EXPECT_EQ(decoded.error, "");
  EXPECT_EQ(decoded.result, "0,," + stamped);
  Verdict verdict;
  ASSERT_TRUE(ParseVerdict(decoded.result, &verdict));
  EXPECT_EQ(verdict.status, 0);
}

struct ResultCase {
  const char *fields;
  const char *result;
  const char *error;
};

TEST_F(SecureExchangeTest, ResultFormedFromTheVerifiedFields) {
  for (ResultCase c : {ResultCase{"<status>1</status><desc>x</desc>", "0,1,x", ""},
                       ResultCase{"<status>1</status>", "1", ""},
                       ResultCase{"<content>abc</content><date>2001-02-03 04:05:06</date>",
                                  "abc2001-02-03 04:05:06", ""},
                       ResultCase{"<date>2001-02-03 04:05:06</date>", "2001-02-03 04:05:06", ""},
                       ResultCase{"<content>abc</content>", "", msg::kBadAnswerFormat}}) {
    std::string inner = c.fields;
    Decoded decoded = Decode(Document(inner, "a", ""));
    EXPECT_EQ(decoded.result, c.result) << c.fields;
    EXPECT_EQ(decoded.error, c.error) << c.fields;
    EXPECT_NE(decoded.signature, "") << "the signature is filled from sign";
  }
}

TEST_F(SecureExchangeTest, DocumentAnswersNeedTheServerKeyFramedOnesDoNot) {
  TheModuleApp().LoadServerKey((dir_ / "missing").c_str());
  Decoded decoded = Decode(Document("<status>0</status>", "status", "0"));
  EXPECT_EQ(decoded.error, msg::kNoPublicKey);
  EXPECT_EQ(decoded.signature, "");
  // The format is checked first.
  EXPECT_EQ(Decode("<data>" + Encrypt("<status>0</status>") + "</data>").error,
            msg::kBadAnswerFormat);
  EXPECT_EQ(Decode(Frame(FramedSign("ok"), "ok")).result, "ok");
}

// The real provider, but with a verification that raises.
unsigned char KESTRO_CALL ThrowingVerify(const char *, const unsigned char *, int, const char *) {
  throw std::runtime_error("verification failure");
}
char *KESTRO_CALL ThrowingDecrypt(const char *, const char *) {
  throw std::runtime_error("decryption failure");
}

class RaisingProvider : public SecureExchangeTest {
 protected:
  void Use(decltype(crypto::Provider::ecdsa_verify_ch) verify,
           decltype(crypto::Provider::aes_decryption_ch) decrypt) {
    provider_ = {Gen_Random_String, AES_Encryption, AES_Decryption, decrypt, verify, Ecc_Free};
    crypto::SetProviderForTesting(&provider_);
  }
  void TearDown() override {
    crypto::SetProviderForTesting(nullptr);
    SecureExchangeTest::TearDown();
  }
  crypto::Provider provider_{};
};

TEST_F(RaisingProvider, VerificationThatRaisesIsTheCallersMessage) {
  std::string signature = FramedSign("c");
  std::string framed = Frame(signature, "c");
  std::string document = Document("<status>0</status>", "status", "0");
  Use(ThrowingVerify, AES_Decryption_CH);

  Decoded decoded = Decode(framed);
  EXPECT_EQ(decoded.error, msg::kAnswerVerifyRaised);
  EXPECT_EQ(decoded.signature, signature);
  decoded = Decode(document);
  EXPECT_EQ(decoded.error, msg::kAnswerVerifyRaised);
  EXPECT_EQ(decoded.signature, "");

  ClearLastError();
  EXPECT_EQ(Kel_VerifyTimeStamp("a", "b", "c"), 1);
  EXPECT_EQ(LastErrorText(), std::string(msg::kTimestampVerifyRaised));
}

TEST_F(RaisingProvider, DecryptionThatRaisesIsTheCallersMessage) {
  std::string framed = Frame(FramedSign("c"), "c");
  std::string document = Document("<status>0</status>", "status", "0");
  Use(ECDSA_Verify_CH, ThrowingDecrypt);
  EXPECT_EQ(Decode(framed).error, msg::kAnswerDecryptFailed);
  EXPECT_EQ(Decode(document).error, msg::kAnswerDecryptFailed);
}

unsigned char KESTRO_CALL AcceptingVerify(const char *, const unsigned char *, int, const char *) {
  return 1;
}

TEST(ServerTimeSignature, AnAnswerWithoutASignatureFailsButHandsOverBothBuffers) {
  // Only a provider that accepts anything lets an unsigned frame through.
  server::SealServerOptions options;
  options.keys.framed_pem = test::FixtureFile("dev-only-document-server-key.pem");
  options.test_hooks = true;
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  crypto::Provider provider = {Gen_Random_String, AES_Encryption,  AES_Decryption,
                               AES_Decryption_CH, AcceptingVerify, Ecc_Free};
  crypto::SetProviderForTesting(&provider);
  char *time = nullptr;
  char *signature = nullptr;
  std::string url = server.url() + "x?format=framed&fault=frame-empty-signature";
  EXPECT_EQ(Kel_GetServerTime(&time, &signature, "abc", url.c_str()), 1);
  crypto::SetProviderForTesting(nullptr);
  EXPECT_EQ(LastErrorText(), std::string(msg::kTransactionFailed));
  ASSERT_NE(time, nullptr);
  ASSERT_NE(signature, nullptr);
  EXPECT_EQ(std::string(time).size(), 19u);
  EXPECT_EQ(std::string(signature), "");
  Kel_ReleaseBuf(time);
  Kel_ReleaseBuf(signature);
}

int KESTRO_CALL FailingRandom(char *, int) { return -1; }

TEST(ResponseKey, AKeyThatCannotBeDrawnIsNeverSent) {
  server::SealServerOptions options;
  options.kept_requests = 1;
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  crypto::Provider provider = {FailingRandom,     AES_Encryption,  AES_Decryption,
                               AES_Decryption_CH, ECDSA_Verify_CH, Ecc_Free};
  crypto::SetProviderForTesting(&provider);
  int status = 0;
  EXPECT_EQ(Kel_VerifySeal(server.url().c_str(), "n", "i", "t", 1, &status), 1);
  crypto::SetProviderForTesting(nullptr);
  EXPECT_EQ(LastErrorText(), std::string(msg::kTransactionFailed));
  EXPECT_TRUE(server.Received().empty());
}

TEST(Timeouts, AnAnswerSlowerThanTheTimeoutIsAFailedExchange) {
  server::SealServerOptions options;
  options.test_hooks = true;
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  TransportTimeouts previous = SetTransportTimeoutsForTesting({2000, 1});
  int status = 0;
  EXPECT_EQ(Kel_VerifySeal((server.url() + "x?delay_ms=2500").c_str(), "n", "i", "t", 1, &status),
            1);
  SetTransportTimeoutsForTesting(previous);
  EXPECT_EQ(LastErrorText(), std::string(msg::kServerUnreachable));
}

}  // namespace
}  // namespace kel
