// What the exchange benchmark and the answer-memory program share: a
// reference seal server on loopback and a bare libcurl POST that sends what
// Kel_VerifySeal sends.
#ifndef KEL_BENCH_EXCHANGE_SUPPORT_H_
#define KEL_BENCH_EXCHANGE_SUPPORT_H_

#include <curl/curl.h>

#include <memory>
#include <string>

#include "seal_server.h"
#include "support/loaded_kel.h"

namespace kel::bench {

// A server with the development keys and one seal, "S-1" of "Acme", whose
// description is `description`.
inline std::unique_ptr<server::SealServer> StartServer(const std::string &description) {
  server::SealServerOptions options;
  options.keys.framed_pem = test::FixtureFile("dev-only-document-server-key.pem");
  options.keys.document_pem = options.keys.framed_pem;
  options.registry.Add("S-1", {"Acme", "0", description});
  auto server = std::make_unique<server::SealServer>(options);
  if (!server->Start()) return nullptr;
  return server;
}

// The form body of Kel_VerifySeal(url, "Acme", "S-1", "t", 1, ...) under `key`.
inline std::string VerifySealBody(const std::string &key) {
  return "type=0&id=S-1&name=Acme&time=t&enc=" + key;
}

// One POST on a fresh handle, as the library makes it; the body, or empty.
inline std::string Post(const std::string &url, const std::string &body) {
  std::string answer;
  CURL *curl = curl_easy_init();
  if (curl == nullptr) return answer;
  curl_slist *headers =
      curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "MyAgent");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t count, void *out) {
        static_cast<std::string *>(out)->append(data, size * count);
        return size * count;
      });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  if (curl_easy_perform(curl) != CURLE_OK) answer.clear();
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return answer;
}

// The value of the first element `name` of a tag-value text (no escapes).
inline std::string Element(const std::string &text, const std::string &name) {
  std::size_t start = text.find("<" + name + ">");
  if (start == std::string::npos) return std::string();
  start += name.size() + 2;
  std::size_t end = text.find("</" + name + ">", start);
  return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

}  // namespace kel::bench

#endif  // KEL_BENCH_EXCHANGE_SUPPORT_H_
