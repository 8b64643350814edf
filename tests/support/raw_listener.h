// A bare TCP listener on 127.0.0.1 for what no HTTP server shows: the first
// bytes a client sends (a TLS handshake, say), or a server whose accept queue
// is full so that connection attempts hang.
#ifndef KEL_TESTS_SUPPORT_RAW_LISTENER_H_
#define KEL_TESTS_SUPPORT_RAW_LISTENER_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace kel::test {

class RawListener {
 public:
  // Listens on a free port with the given accept-queue length.
  explicit RawListener(int backlog = 16);
  ~RawListener();
  RawListener(const RawListener &) = delete;
  RawListener &operator=(const RawListener &) = delete;

  int port() const { return port_; }

  // Accepts one connection, reads what arrives first (at most `max` bytes)
  // and closes it. Empty when nothing connects or sends within `timeout`.
  std::string AcceptAndRead(std::chrono::milliseconds timeout, std::size_t max);

  // Connects clients that are never accepted until the accept queue is full.
  // True when a further attempt is seen to hang.
  bool FillAcceptQueue();

 private:
  int socket_ = -1;
  int port_ = 0;
  std::vector<int> clients_;
};

// A loopback port that is bound but not listening: a connection to it is
// refused at once, and no other program takes the port meanwhile.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort &) = delete;
  RefusingPort &operator=(const RefusingPort &) = delete;

  int port() const { return port_; }

 private:
  int socket_;
  int port_ = 0;
};

// Shuts down the connections that a server of this process on `port` has
// accepted. A client that keeps its connections (as the library does) would
// otherwise hold up the server's stop: httplib waits for the next request on
// a kept-alive connection until its keep-alive time-out (5 s) passes.
void EndAcceptedConnections(int port);

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_RAW_LISTENER_H_
