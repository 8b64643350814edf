// The reference seal server: a real HTTP(S) server that speaks the seal
// protocol, for tests, the demo and integrators.
//
// It answers form-encoded POSTs on any path and picks the transaction from
// the parameters it receives: "content" asks for a server time, "type"/"id"
// for a seal verification, "username"/"sealid" for a record of use. Every
// answer is encrypted under the request's "enc" key.
//
// A request's query string can choose its answer's format:
//   format=document|framed   both are sound answers signed by the server
// With test hooks on (SealServerOptions::test_hooks), also, for that request:
//   fault=NAME               a broken answer (see Faults())
//   delay_ms=N               wait before answering (at most kMaxDelayMs)
//   result=TEXT              the signed content of a framed answer
// Without test hooks these are ignored: they would let any client make the
// server sign what it asks for, or hold its workers.
#ifndef KEL_SERVER_SEAL_SERVER_H_
#define KEL_SERVER_SEAL_SERVER_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "answer_builder.h"
#include "seal_registry.h"
#include "text_encoding.h"

namespace httplib {
class Server;
class TaskQueue;
struct Response;
}  // namespace httplib

namespace kel::server {

class ConnectionLobby;
struct SignedContent;
struct WaitingConnection;

// The longest wait that delay_ms may ask for.
constexpr long kMaxDelayMs = 30 * 1000;
// The largest request body read; a longer one is answered 413.
constexpr std::size_t kMaxRequestBody = 4 * 1024 * 1024;
// The most parameters a request may have, query and form together; more
// are answered 400. A transaction takes at most six, the test hooks four
// more: the cap keeps a form of many empty parameters from costing the
// server many times its size.
constexpr std::size_t kMaxParameters = 32;

struct SealServerOptions {
  std::string host = "127.0.0.1";  // a name, an IPv4 or an IPv6 address
  int port = 0;                    // 0 lets the system choose
  AnswerFormat format = AnswerFormat::kDocument;
  std::string fault = "none";  // applied to every request without its own
  SigningKeys keys;
  SealRegistry registry;
  std::string records_path;   // where records of use are appended; empty: none
  bool sync_records = false;  // fsync each record before answering that it is recorded
  TextEncoding encoding = TextEncoding::kUtf8;  // of the record log
  bool test_hooks = false;                      // honour fault=, delay_ms= and result= in requests
  // Received() keeps this many of the latest requests (bodies included, each
  // at most kMaxRequestBody); 0 keeps none.
  std::size_t kept_requests = 0;
  // One line per request to this file, "-" for standard error; empty: none.
  std::string request_log;
  // Serve https with this certificate (chain) and private key, PEM files.
  std::string tls_cert_path;
  std::string tls_key_path;
  // How long a client may leave the server waiting for each read or write,
  // and for the first byte of a request.
  int client_timeout_seconds = 5;
  // How long a client has to send a whole request, from its first byte.
  int request_deadline_seconds = 30;
  DocumentPadding document_padding;  // in-process only; see DocumentPadding
};

// One request as it arrived.
struct ReceivedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::multimap<std::string, std::string> headers;
  std::string body;
};

// Every fault switch with what it does: the answer faults and the transport
// faults (empty-body, close-early, http-500, oversize).
std::vector<FaultInfo> Faults();
std::vector<std::string> FaultNames();

class SealServer {
 public:
  explicit SealServer(SealServerOptions options);
  ~SealServer();
  SealServer(const SealServer &) = delete;
  SealServer &operator=(const SealServer &) = delete;

  // Binds and starts serving on a background thread. False when it cannot
  // (the port is taken, the TLS files or the request log cannot be used);
  // start_error() then says why.
  bool Start();
  // Stops serving: ends waits for delay_ms at once, and waits for the
  // requests in flight and the thread.
  void Stop();
  // For a process about to end without waiting for Stop(): lets a record
  // being written finish and keeps any other from starting.
  void FreezeForExit();

  int port() const { return port_; }
  std::string url() const;  // "http://HOST:PORT/", "https://[::1]:PORT/"
  const std::string &start_error() const { return start_error_; }

  std::vector<ReceivedRequest> Received() const;

 private:
  struct Answer;
  // An answer that is no seal answer: an HTTP error with a text saying why.
  static Answer Refusal(int status, std::string text);
  static Answer TooManyParameters();
  // Answers `request`, or gives it `refusal` when that is set.
  void Serve(const ReceivedRequest &request, const std::multimap<std::string, std::string> &params,
             const Answer *refusal, httplib::Response *response);
  Answer Respond(const std::multimap<std::string, std::string> &params);
  // Waits for delay_ms and picks up fault=; a refusal when delay_ms is
  // malformed or the server stops during the wait.
  std::optional<Answer> HonourTestHooks(const std::multimap<std::string, std::string> &params,
                                        std::string *fault_name);
  // The broken answer of a transport fault; none for any other fault.
  static std::optional<Answer> TransportFault(const std::string &fault_name);
  // The content of the transaction that `params` ask for (a record is
  // written here); none when they ask for none.
  std::optional<SignedContent> Transaction(const std::multimap<std::string, std::string> &params);
  bool Delay(long milliseconds);
  // Serves the request that has come in on a connection from the lobby,
  // then sends the connection back to wait for its next one.
  void ServeWaiting(WaitingConnection connection);
  void Log(const ReceivedRequest &request, const std::multimap<std::string, std::string> &params,
           const Answer &answer);

  SealServerOptions options_;
  AnswerBuilder builder_;
  RecordLog records_;
  std::unique_ptr<httplib::Server> http_;
  // http only: connections wait here for their requests, then go to the
  // workers of pool_ (see connection_lobby.h).
  std::unique_ptr<ConnectionLobby> lobby_;
  std::atomic<httplib::TaskQueue *> pool_{nullptr};
  std::thread thread_;
  int port_ = 0;
  std::string start_error_;

  std::mutex stop_mutex_;
  std::condition_variable stop_changed_;
  bool stopping_ = false;

  std::mutex log_mutex_;
  std::FILE *log_ = nullptr;

  mutable std::mutex received_mutex_;
  std::deque<ReceivedRequest> received_;
};

}  // namespace kel::server

#endif  // KEL_SERVER_SEAL_SERVER_H_
