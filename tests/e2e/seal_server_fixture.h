// A reference seal server on loopback and a loaded copy of the library, for
// the end-to-end tests of the server transactions.
#ifndef KEL_TESTS_E2E_SEAL_SERVER_FIXTURE_H_
#define KEL_TESTS_E2E_SEAL_SERVER_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "api/messages.h"
#include "seal_server.h"
#include "support/loaded_kel.h"
#include "support/raw_listener.h"
#include "support/temp_dir.h"

namespace kel::test {

// A server with the development key (for both formats), its test hooks on
// and the latest requests kept for Received().
inline server::SealServerOptions DevServerOptions(const std::string &records_path) {
  server::SealServerOptions options;
  options.keys.framed_pem = FixtureFile("dev-only-document-server-key.pem");
  options.keys.document_pem = options.keys.framed_pem;
  options.test_hooks = true;
  options.kept_requests = 16;
  options.registry.Add("S-1", {"Acme", "0", "valid seal"});
  options.registry.Add("S-9", {"Revoked Co", "5", "revoked, since 2020"});
  options.records_path = records_path;
  return options;
}

class SealServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<server::SealServer>(DevServerOptions((dir_ / "records").string()));
    ASSERT_TRUE(server_->Start());
    kel_ = std::make_unique<LoadedKel>(FixtureFile("dev-only-document-server-key.pub"));
  }

  // The library keeps its connections: they are ended here, or the server's
  // stop would wait for them.
  void TearDown() override {
    if (server_ != nullptr) EndAcceptedConnections(server_->port());
  }

  // The server's URL with a query string for the next request.
  std::string Url(const std::string &query = "") const {
    return server_->url() + (query.empty() ? "" : "x?" + query);
  }

  TempDir dir_;
  std::unique_ptr<server::SealServer> server_;
  std::unique_ptr<LoadedKel> kel_;
};

}  // namespace kel::test

#endif  // KEL_TESTS_E2E_SEAL_SERVER_FIXTURE_H_
