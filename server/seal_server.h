// The reference seal server: a real HTTP server that speaks the seal
// protocol, for tests, the demo and integrators.
//
// It answers form-encoded POSTs on any path and picks the transaction from
// the parameters it receives: "content" asks for a server time, "type"/"id"
// for a seal verification, "username"/"sealid" for a record of use. Every
// answer is encrypted under the request's "enc" key.
//
// A request's query string can choose, for that request only:
//   format=document|framed   the answer's format
//   fault=NAME               a broken answer (see FaultNames())
//   delay_ms=N               wait before answering
//   result=TEXT              the signed content of a framed answer
#ifndef KEL_SERVER_SEAL_SERVER_H_
#define KEL_SERVER_SEAL_SERVER_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "answer_builder.h"
#include "seal_registry.h"

namespace httplib {
class Server;
}

namespace kel::server {

struct SealServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0 lets the system choose
  AnswerFormat format = AnswerFormat::kDocument;
  std::string fault = "none";  // applied to every request without its own
  SigningKeys keys;
  SealRegistry registry;
  std::string records_path;  // where records of use are appended; empty: none
};

// One request as it arrived.
struct ReceivedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::multimap<std::string, std::string> headers;
  std::string body;
};

// Every fault switch: the answer faults and the transport faults
// (empty-body, close-early, http-500, oversize).
std::vector<std::string> FaultNames();

class SealServer {
 public:
  explicit SealServer(SealServerOptions options);
  ~SealServer();
  SealServer(const SealServer &) = delete;
  SealServer &operator=(const SealServer &) = delete;

  // Binds and starts serving on a background thread. False when it cannot bind.
  bool Start();
  // Stops serving and waits for the thread.
  void Stop();

  int port() const { return port_; }
  std::string url() const;  // "http://HOST:PORT/"

  std::vector<ReceivedRequest> Received() const;

 private:
  struct Answer;
  Answer Respond(const ReceivedRequest &request,
                 const std::multimap<std::string, std::string> &params);

  SealServerOptions options_;
  AnswerBuilder builder_;
  RecordLog records_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex received_mutex_;
  std::vector<ReceivedRequest> received_;
};

}  // namespace kel::server

#endif  // KEL_SERVER_SEAL_SERVER_H_
