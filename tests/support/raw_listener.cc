#include "support/raw_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace kel::test
