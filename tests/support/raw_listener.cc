#include "support/raw_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kel::test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
  pollfd entry{fd, events, 0};
  return poll(&entry, 1, static_cast<int>(timeout.count())) == 1 && (entry.revents & events);
}

}  // namespace

RawListener::RawListener(int backlog) {
  socket_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
      listen(socket_, backlog) != 0 ||
      getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
    if (socket_ >= 0) close(socket_);
    throw std::runtime_error("raw listener: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
}

RawListener::~RawListener() {
  for (int client : clients_) close(client);
  close(socket_);
}

std::string RawListener::AcceptAndRead(std::chrono::milliseconds timeout, std::size_t max) {
  if (!WaitFor(socket_, POLLIN, timeout)) return std::string();
  int connection = accept(socket_, nullptr, nullptr);
  if (connection < 0) return std::string();
  std::string data(max, '\0');
  ssize_t got = WaitFor(connection, POLLIN, timeout) ? read(connection, &data[0], max) : 0;
  close(connection);
  data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return data;
}

bool RawListener::FillAcceptQueue() {
  sockaddr_in address = Loopback(port_);
  for (int attempt = 0; attempt < 64; ++attempt) {
    int client = socket(AF_INET, SOCK_STREAM, 0);
    if (client < 0) return false;
    clients_.push_back(client);
    fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
    if (connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) continue;
    // A connection the kernel still completes for us shows the queue has room.
    if (!WaitFor(client, POLLOUT, std::chrono::milliseconds(200))) return true;
  }
  return false;
}

void EndAcceptedConnections(int port) {
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t local_size = sizeof local;
    socklen_t peer_size = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &local_size) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peer_size) != 0) {
      continue;  // no socket, or no connection (a listener)
    }
    int local_port = -1;
    if (local.ss_family == AF_INET) {
      local_port = ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
    } else if (local.ss_family == AF_INET6) {
      local_port = ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
    }
    if (local_port == port) shutdown(fd, SHUT_RDWR);
  }
}

RefusingPort::RefusingPort() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(socket_, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
      getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &size) == 0) {
    port_ = ntohs(address.sin_port);
  }
}

RefusingPort::~RefusingPort() { close(socket_); }

}  // namespace kel::test
