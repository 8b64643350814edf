// A loopback HTTP proxy in front of one server, which may lose an answer the
// way a load balancer or a server closing a kept connection does: the N-th
// request on each client connection is passed on, the server's whole answer
// is read (so the server has acted on the request), and then the client's
// connection is closed without a byte of that answer. A client that sends the
// request again on a fresh connection makes the server act twice.
//
// Clients may also use it as their forward proxy: a request whose target is
// absolute ("POST http://any-host:1/x HTTP/1.1") goes to the one server with
// the target's path, and CONNECT opens a tunnel to that server. The host the
// client named is never resolved, so a request that reached the server
// through a name that does not resolve went through the proxy.
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
  // to request number `drop_answer` (counted from 1) of each connection; 0
  // drops none.
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
  // The request line of every request received, in order ("CONNECT h:1
  // HTTP/1.1" for a tunnel); a forwarded one as the client sent it.
  std::vector<std::string> RequestLines() const;
  // While true, CONNECT requests are read and never answered: a proxy that
  // hangs before the tunnel opens.
  void HoldTunnels(bool hold) { hold_tunnels_ = hold; }

 private:
  void AcceptLoop();
  void Serve(int client);
  void Tunnel(int client, int upstream, const std::string &pending);
  bool Track(int fd);
  void Untrack(int fd);

  int upstream_port_;
  int drop_answer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> forwarded_{0};
  std::atomic<int> dropped_{0};
  std::atomic<bool> hold_tunnels_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::set<int> open_;  // sockets to shut down on Stop
  std::vector<std::string> request_lines_;
  std::vector<std::thread> workers_;
};

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_ANSWER_DROPPING_PROXY_H_
