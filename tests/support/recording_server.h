// A real HTTP server on loopback for tests: it records every request it
// receives and answers with what the test configured, including the faults a
// client must survive (slow answers, bodies written in pieces, connections
// closed early, oversize bodies).
#ifndef KEL_TESTS_SUPPORT_RECORDING_SERVER_H_
#define KEL_TESTS_SUPPORT_RECORDING_SERVER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace kel::test {

struct RecordedRequest {
  std::string method;
  std::string target;  // as it stood in the request line, not decoded
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  bool HasHeader(const std::string &name) const;      // names compare without case
  std::string Header(const std::string &name) const;  // empty when absent
};

struct CannedAnswer {
  int status = 200;
  std::string body = "ok";
  std::string content_type = "text/plain";
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers

  // Wait this long before answering at all.
  std::chrono::milliseconds delay{0};
  // When set, the body goes out in pieces of these sizes (the last size
  // repeats), with `pause` between pieces.
  std::vector<std::size_t> piece_sizes;
  std::chrono::milliseconds pause{0};
  // Close the connection after this many body bytes although the
  // Content-Length announced the whole body.
  std::size_t close_after = static_cast<std::size_t>(-1);
};

// A plain answer of `status` with `body`.
CannedAnswer Answer(int status, std::string body);

// Listens on 127.0.0.1 on a free port from construction to destruction and
// serves on a background thread. Waits (delays and pauses) end early when the
// server stops, so a test never waits for a slow answer it gave up on.
class RecordingServer {
 public:
  RecordingServer();
  ~RecordingServer();
  RecordingServer(const RecordingServer &) = delete;
  RecordingServer &operator=(const RecordingServer &) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string &path = "/") const;

  // The answer to requests whose path (before any '?') is `path`; requests
  // to other paths get the default answer.
  void SetAnswer(const std::string &path, CannedAnswer answer);
  void SetDefaultAnswer(CannedAnswer answer);

  std::vector<RecordedRequest> Requests() const;
  // How many connections the server has accepted.
  std::size_t Connections() const { return connections_; }

 private:
  CannedAnswer AnswerFor(const std::string &path) const;
  // Sleeps for `duration` unless the server stops first; false when stopping.
  bool Wait(std::chrono::milliseconds duration);

  std::unique_ptr<httplib::Server> server_;
  std::atomic<std::size_t> connections_{0};
  std::thread thread_;
  int port_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable stopping_changed_;
  bool stopping_ = false;
  CannedAnswer default_answer_;
  std::map<std::string, CannedAnswer> answers_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_RECORDING_SERVER_H_
