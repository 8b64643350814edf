// kel-seal-server: the reference seal server, for developing and testing
// host applications of Kel against a real server on this machine.
#include <CLI/CLI.hpp>
#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "seal_server.h"

namespace {

std::string ReadWhole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

volatile std::sig_atomic_t g_stop = 0;

}  // namespace

int main(int argc, char **argv) {
  using kel::server::AnswerFormat;
  kel::server::SealServerOptions options;
  std::string format = "document";
  std::string framed_key_path;
  std::string document_key_path;
  std::string registry_path;
  std::vector<std::string> valid_seals;

  std::ostringstream faults;
  for (const auto &name : kel::server::FaultNames()) faults << "  " << name << "\n";

  CLI::App app{
      "The reference seal server. Answers the three seal transactions (record of use, seal\n"
      "verification, server time) on any path, encrypted under each request's \"enc\" key and\n"
      "signed with the given private keys (PKCS#8 PEM). Prints its URL when ready and serves\n"
      "until interrupted.\n\n"
      "A request's query string may choose for itself: format=document|framed, fault=NAME,\n"
      "delay_ms=N.\n\n"
      "Verdicts: a seal listed in the registry (or with --valid-seal) gets its status and\n"
      "description; an unknown seal gets status 2, a known seal with another name status 3."};
  app.footer("Faults:\n" + faults.str() +
             "\nExample:\n  kel-seal-server --port 8080 --framed-key framed.pem --document-key "
             "document.pem --valid-seal 'S-1=Acme Ltd'");
  app.add_option("--host", options.host, "Address to listen on")->capture_default_str();
  app.add_option("--port", options.port, "Port to listen on; 0 lets the system choose")
      ->capture_default_str();
  app.add_option("--format", format, "Answer format: document or framed")
      ->check(CLI::IsMember({"document", "framed"}))
      ->capture_default_str();
  app.add_option("--framed-key", framed_key_path, "Private key that signs framed answers")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("--document-key", document_key_path, "Private key that signs document answers")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("--hash", options.keys.hash, "Hash of the signatures: sha256, sha384, sha512")
      ->check(CLI::IsMember({"sha256", "sha384", "sha512"}))
      ->capture_default_str();
  app.add_option("--registry", registry_path,
                 "Seal registry: lines of id<TAB>name<TAB>status<TAB>description")
      ->check(CLI::ExistingFile);
  app.add_option("--valid-seal", valid_seals, "A valid seal as ID=NAME (repeatable)");
  app.add_option("--records", options.records_path, "File that records of use are appended to");
  app.add_option("--fault", options.fault, "Answer every request with this fault")
      ->check(CLI::IsMember(kel::server::FaultNames()))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  options.format = format == "framed" ? AnswerFormat::kFramed : AnswerFormat::kDocument;
  options.keys.framed_pem = ReadWhole(framed_key_path);
  options.keys.document_pem = ReadWhole(document_key_path);
  std::string error;
  if (!registry_path.empty() && !options.registry.LoadFile(registry_path, &error)) {
    std::cerr << error << "\n";
    return 2;
  }
  for (const auto &seal : valid_seals) {
    auto equals = seal.find('=');
    if (equals == std::string::npos) {
      std::cerr << "--valid-seal takes ID=NAME, not " << seal << "\n";
      return 2;
    }
    options.registry.Add(seal.substr(0, equals), {seal.substr(equals + 1), "0", "valid seal"});
  }

  kel::server::SealServer server(std::move(options));
  if (!server.Start()) {
    std::cerr << "cannot listen on the given address and port\n";
    return 2;
  }
  std::signal(SIGINT, [](int) { g_stop = 1; });
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  std::cout << "listening on " << server.url() << std::endl;
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  return 0;
}
