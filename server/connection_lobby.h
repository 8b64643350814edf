// Where http connections wait for their requests without holding a worker.
//
// A worker that reads a request is held for as long as the client takes to
// send it: a few hundred clients that each send a byte every few seconds
// (within the time-out for each read) would hold every worker and keep all
// other clients waiting. So a connection waits here, in one thread that
// polls them all, until its request has come in whole (the head, and the
// body when the two fit in kLobbyBuffer bytes), and is then handed to a
// worker with the bytes read so far. After its answer a kept connection
// comes back to wait for its next request.
//
// Each request must come in whole within the request deadline from its
// first byte, here and in the worker alike; a connection that starts no
// request within the idle time is closed. Memory is bounded: at most
// kLobbyBuffer bytes for each of at most kLobbyConnections connections
// (past that the one that has waited longest is closed).
#ifndef KEL_SERVER_CONNECTION_LOBBY_H_
#define KEL_SERVER_CONNECTION_LOBBY_H_

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kel::server {

using LobbyClock = std::chrono::steady_clock;

constexpr std::size_t kLobbyBuffer = 64 * 1024;
constexpr std::size_t kLobbyConnections = 1024;

// True when `received`, the start of what a client sent, holds a whole
// request head and the body it announces, or as much as a worker should take
// over at once: `limit` bytes, a head that asks for 100 Continue, or a body
// in chunks, whose length the head does not give.
bool RequestInHand(const std::string &received, std::size_t limit);

// A client's connection between two requests, or with one coming in.
struct WaitingConnection {
  int fd = -1;
  std::string received;  // bytes read and not yet handled
  // When the request now coming in must be whole; max() before its first byte.
  LobbyClock::time_point deadline = LobbyClock::time_point::max();
  LobbyClock::time_point idle_since = LobbyClock::now();
  std::size_t requests = 0;  // answered on this connection so far
};

class ConnectionLobby {
 public:
  // `ready` is called, on the lobby's thread, with each connection whose
  // request has come in; it takes the connection over.
  ConnectionLobby(std::chrono::milliseconds idle, std::chrono::milliseconds request,
                  std::function<void(WaitingConnection)> ready);
  ~ConnectionLobby();
  ConnectionLobby(const ConnectionLobby &) = delete;
  ConnectionLobby &operator=(const ConnectionLobby &) = delete;

  // Takes the connection over; after Stop() it is closed at once.
  void Admit(WaitingConnection connection);
  // Closes every waiting connection. No `ready` call follows.
  void Stop();

 private:
  void Run();
  // Reads what has arrived; false when the connection is to be closed.
  bool Receive(WaitingConnection *connection);
  void Close(WaitingConnection *connection, bool late);

  const std::chrono::milliseconds idle_;
  const std::chrono::milliseconds request_;
  const std::function<void(WaitingConnection)> ready_;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  bool stopping_ = false;
  std::vector<WaitingConnection> admitted_;  // under mutex_, for the lobby's thread
  std::vector<WaitingConnection> waiting_;   // the lobby's thread's own
  std::thread thread_;
};

// A connection handed over by the lobby, as httplib reads and writes it: the
// bytes the lobby read come first, and no read waits past the request's
// deadline or past the read time-out.
class LobbyStream : public httplib::Stream {
 public:
  LobbyStream(WaitingConnection *connection, std::chrono::milliseconds read_timeout,
              std::chrono::milliseconds write_timeout);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char *ptr, size_t size) override;
  ssize_t write(const char *ptr, size_t size) override;
  void get_remote_ip_and_port(std::string &ip, int &port) const override;
  void get_local_ip_and_port(std::string &ip, int &port) const override;
  socket_t socket() const override { return connection_->fd; }

  // Leaves the bytes not read yet (a next request sent early) in the
  // connection, for its next wait.
  void KeepUnread();

 private:
  bool WaitFor(short events, std::chrono::milliseconds timeout) const;

  WaitingConnection *connection_;
  std::size_t position_ = 0;  // in connection_->received
  const std::chrono::milliseconds read_timeout_;
  const std::chrono::milliseconds write_timeout_;
};

}  // namespace kel::server

#endif  // KEL_SERVER_CONNECTION_LOBBY_H_
