// A loopback HTTP proxy that loses an answer the way a load balancer or a
// server closing a kept connection does: the N-th request on each client
// connection is passed on, the server's whole answer is read (so the server
// has acted on the request), and then the client's connection is closed
// without a byte of that answer. A client that sends the request again on a
// fresh connection makes the server act twice.
#ifndef KEL_TESTS_SUPPORT_ANSWER_DROPPING_PROXY_H_
#define KEL_TESTS_SUPPORT_ANSWER_DROPPING_PROXY_H_

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kel::test {

class AnswerDroppingProxy {
 public:
  // Forwards to the server on 127.0.0.1:`upstream_port`, dropping the answer
  // to request number `drop_answer` (counted from 1) of each connection.
  AnswerDroppingProxy(int upstream_port, int drop_answer = 2);
  ~AnswerDroppingProxy();
  AnswerDroppingProxy(const AnswerDroppingProxy &) = delete;
  AnswerDroppingProxy &operator=(const AnswerDroppingProxy &) = delete;

  // Listens on 127.0.0.1 on a port the system chooses. False on failure.
  bool Start();
  // Ends every connection and waits for the proxy's threads.
  void Stop();

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // Requests passed on, and answers dropped, so far.
  int forwarded() const { return forwarded_; }
  int dropped() const { return dropped_; }

 private:
  void AcceptLoop();
  void Serve(int client);
  bool Track(int fd);
  void Untrack(int fd);

  int upstream_port_;
  int drop_answer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> forwarded_{0};
  std::atomic<int> dropped_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::set<int> open_;  // sockets to shut down on Stop
  std::vector<std::thread> workers_;
};

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_ANSWER_DROPPING_PROXY_H_
