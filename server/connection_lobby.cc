#include "connection_lobby.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kel::server {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;

int MillisecondsUntil(LobbyClock::time_point when) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(when - LobbyClock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 60 * 60 * 1000));
}

// The address of one end of a socket as numbers.
void NumericAddress(int fd, bool peer, std::string *ip, int *port) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  auto *name = reinterpret_cast<sockaddr *>(&address);
  char host[NI_MAXHOST] = "";
  char service[NI_MAXSERV] = "0";
  if ((peer ? getpeername(fd, name, &size) : getsockname(fd, name, &size)) == 0) {
    getnameinfo(name, size, host, sizeof host, service, sizeof service,
                NI_NUMERICHOST | NI_NUMERICSERV);
  }
  *ip = host;
  *port = std::atoi(service);
}

}  // namespace

bool RequestInHand(const std::string &received, std::size_t limit) {
  if (received.size() >= limit) return true;
  std::size_t head_end = received.find("\r\n\r\n");
  if (head_end == std::string::npos) return false;
  head_end += 4;
  std::string head = received.substr(0, head_end);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (head.find("\r\nexpect:") != std::string::npos ||
      head.find("\r\ntransfer-encoding:") != std::string::npos) {
    return true;
  }
  std::size_t length_at = head.find("\r\ncontent-length:");
  if (length_at == std::string::npos) return true;
  unsigned long long length = std::strtoull(head.c_str() + length_at + 17, nullptr, 10);
  return received.size() - head_end >= length;
}

ConnectionLobby::ConnectionLobby(std::chrono::milliseconds idle, std::chrono::milliseconds request,
                                 std::function<void(WaitingConnection)> ready)
    : idle_(idle), request_(request), ready_(std::move(ready)) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  thread_ = std::thread([this] { Run(); });
}

ConnectionLobby::~ConnectionLobby() {
  Stop();
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

void ConnectionLobby::Admit(WaitingConnection connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) {
      connection.idle_since = LobbyClock::now();
      // Bytes of the next request came with the last one: it has begun.
      if (!connection.received.empty() && connection.deadline == LobbyClock::time_point::max()) {
        connection.deadline = connection.idle_since + request_;
      }
      admitted_.push_back(std::move(connection));
      connection.fd = -1;
    }
  }
  if (connection.fd >= 0) {
    Close(&connection, false);
    return;
  }
  char byte = 0;
  (void)!write(wake_[1], &byte, 1);
}

void ConnectionLobby::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  char byte = 0;
  (void)!write(wake_[1], &byte, 1);
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto *list : {&admitted_, &waiting_}) {
    for (auto &connection : *list) Close(&connection, false);
    list->clear();
  }
}

void ConnectionLobby::Run() {
  std::vector<pollfd> polled;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      for (auto &connection : admitted_) waiting_.push_back(std::move(connection));
      admitted_.clear();
    }
    // Past the bound, the connections that have waited longest make room.
    while (waiting_.size() > kLobbyConnections) {
      Close(&waiting_.front(), !waiting_.front().received.empty());
      waiting_.erase(waiting_.begin());
    }
    std::vector<WaitingConnection> ready;
    auto now = LobbyClock::now();
    LobbyClock::time_point next = now + std::chrono::hours(1);
    for (auto &connection : waiting_) {
      if (connection.fd < 0) continue;  // closed after the last poll
      // A connection may come back with its next request read already.
      if (RequestInHand(connection.received, kLobbyBuffer)) {
        ready.push_back(std::move(connection));
        connection.fd = -1;
        continue;
      }
      auto until =
          connection.received.empty() ? connection.idle_since + idle_ : connection.deadline;
      if (until <= now) {
        Close(&connection, !connection.received.empty());
        continue;
      }
      next = std::min(next, until);
    }
    waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                  [](const WaitingConnection &c) { return c.fd < 0; }),
                   waiting_.end());
    for (auto &connection : ready) ready_(std::move(connection));
    if (!ready.empty()) continue;

    polled.assign(1, pollfd{wake_[0], POLLIN, 0});
    for (const auto &connection : waiting_) polled.push_back(pollfd{connection.fd, POLLIN, 0});
    if (poll(polled.data(), polled.size(), MillisecondsUntil(next)) < 0 && errno != EINTR) return;
    char drained[64];
    while (read(wake_[0], drained, sizeof drained) > 0) {
    }
    for (std::size_t i = 1; i < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      WaitingConnection &connection = waiting_[i - 1];
      if (!Receive(&connection)) Close(&connection, false);
    }
  }
}

bool ConnectionLobby::Receive(WaitingConnection *connection) {
  std::size_t room = kLobbyBuffer - connection->received.size();
  std::size_t had = connection->received.size();
  connection->received.resize(had + std::min(room, kReadChunk));
  ssize_t got = recv(connection->fd, &connection->received[had], connection->received.size() - had,
                     MSG_DONTWAIT);
  connection->received.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (got == 0) return false;  // the client closed it
  if (had == 0) connection->deadline = LobbyClock::now() + request_;
  return true;
}

void ConnectionLobby::Close(WaitingConnection *connection, bool late) {
  if (connection->fd < 0) return;
  if (late) {
    // A request begun and not finished in time: say so, if the client reads.
    std::string text = "the request did not come in whole within " +
                       std::to_string(request_.count() / 1000) + " seconds";
    std::string answer =
        "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\n"
        "Content-Type: text/plain\r\nContent-Length: " +
        std::to_string(text.size()) + "\r\n\r\n" + text;
    (void)!send(connection->fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  shutdown(connection->fd, SHUT_RDWR);
  close(connection->fd);
  connection->fd = -1;
}

LobbyStream::LobbyStream(WaitingConnection *connection, std::chrono::milliseconds read_timeout,
                         std::chrono::milliseconds write_timeout)
    : connection_(connection), read_timeout_(read_timeout), write_timeout_(write_timeout) {}

bool LobbyStream::WaitFor(short events, std::chrono::milliseconds timeout) const {
  pollfd polled{connection_->fd, events, 0};
  for (;;) {
    int result = poll(&polled, 1, static_cast<int>(timeout.count()));
    if (result < 0 && errno == EINTR) continue;
    return result > 0;
  }
}

bool LobbyStream::is_readable() const {
  if (position_ < connection_->received.size()) return true;
  auto left = std::chrono::milliseconds(MillisecondsUntil(connection_->deadline));
  return left.count() > 0 && WaitFor(POLLIN, std::min(left, read_timeout_));
}

bool LobbyStream::is_writable() const { return WaitFor(POLLOUT, write_timeout_); }

ssize_t LobbyStream::read(char *ptr, size_t size) {
  std::string &received = connection_->received;
  if (position_ < received.size()) {
    std::size_t taken = std::min(size, received.size() - position_);
    std::memcpy(ptr, received.data() + position_, taken);
    position_ += taken;
    return static_cast<ssize_t>(taken);
  }
  if (!is_readable()) return -1;
  ssize_t got;
  do {
    got = recv(connection_->fd, ptr, size, 0);
  } while (got < 0 && errno == EINTR);
  return got;
}

ssize_t LobbyStream::write(const char *ptr, size_t size) {
  if (!is_writable()) return -1;
  ssize_t sent;
  do {
    sent = send(connection_->fd, ptr, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

void LobbyStream::get_remote_ip_and_port(std::string &ip, int &port) const {
  NumericAddress(connection_->fd, true, &ip, &port);
}

void LobbyStream::get_local_ip_and_port(std::string &ip, int &port) const {
  NumericAddress(connection_->fd, false, &ip, &port);
}

void LobbyStream::KeepUnread() {
  connection_->received.erase(0, position_);
  position_ = 0;
  connection_->deadline = LobbyClock::time_point::max();
}

}  // namespace kel::server
