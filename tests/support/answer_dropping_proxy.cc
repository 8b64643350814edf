#include "support/answer_dropping_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace kel::test {
namespace {

// Reads one HTTP message (head and a body of Content-Length bytes; without
// that header, none for a request and up to the end of the connection for
// an answer) into `message`. `pending` keeps bytes read past its end for the
// next message. False when the connection ends before a whole message
// arrived.
bool ReadMessage(int fd, bool request, std::string *pending, std::string *message) {
  char chunk[16384];
  std::size_t head_end;
  while ((head_end = pending->find("\r\n\r\n")) == std::string::npos) {
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    pending->append(chunk, static_cast<std::size_t>(got));
  }
  head_end += 4;
  long long length = -1;
  for (std::size_t line = pending->find("\r\n") + 2; line < head_end - 2;) {
    std::size_t end = pending->find("\r\n", line);
    static const char kName[] = "content-length:";
    if (strncasecmp(pending->c_str() + line, kName, sizeof kName - 1) == 0) {
      length = std::atoll(pending->c_str() + line + sizeof kName - 1);
    }
    line = end + 2;
  }
  if (length < 0 && request) length = 0;
  while (length < 0 || pending->size() < head_end + static_cast<std::size_t>(length)) {
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got < 0) return false;
    if (got == 0) {
      if (length >= 0) return false;
      break;  // no length: the message ends with the connection
    }
    pending->append(chunk, static_cast<std::size_t>(got));
  }
  std::size_t size = length < 0 ? pending->size() : head_end + static_cast<std::size_t>(length);
  message->assign(*pending, 0, size);
  pending->erase(0, size);
  return true;
}

bool SendAll(int fd, const std::string &data) {
  for (std::size_t sent = 0; sent < data.size();) {
    ssize_t put = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (put <= 0) return false;
    sent += static_cast<std::size_t>(put);
  }
  return true;
}

// A request whose target is absolute ("POST http://h:1/x HTTP/1.1") with
// the target's path only, as the server expects it from a client.
std::string WithOriginTarget(const std::string &request) {
  std::size_t target = request.find(' ') + 1;
  std::size_t scheme_end = request.find("://", target);
  std::size_t line_end = request.find("\r\n");
  if (target == 0 || scheme_end == std::string::npos || scheme_end > line_end ||
      request.find(' ', target) < scheme_end) {
    return request;
  }
  std::size_t path = request.find_first_of("/ ", scheme_end + 3);
  std::string rest = request.substr(path);
  return request.substr(0, target) + (rest[0] == ' ' ? "/" : "") + rest;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

AnswerDroppingProxy::AnswerDroppingProxy(int upstream_port, int drop_answer)
    : upstream_port_(upstream_port), drop_answer_(drop_answer) {}

AnswerDroppingProxy::~AnswerDroppingProxy() { Stop(); }

bool AnswerDroppingProxy::Start() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return false;
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void AnswerDroppingProxy::Stop() {
  if (stopping_.exchange(true)) return;
  if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : open_) shutdown(fd, SHUT_RDWR);
  }
  for (auto &worker : workers_) worker.join();
  if (listener_ >= 0) close(listener_);
}

bool AnswerDroppingProxy::Track(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  open_.insert(fd);
  return true;
}

void AnswerDroppingProxy::Untrack(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(fd);
  close(fd);
}

void AnswerDroppingProxy::AcceptLoop() {
  for (;;) {
    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;  // shut down by Stop
    if (!Track(client)) {
      close(client);
      return;
    }
    workers_.emplace_back([this, client] { Serve(client); });
  }
}

std::vector<std::string> AnswerDroppingProxy::RequestLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return request_lines_;
}

// Passes bytes both ways until either side closes (or Stop shuts both).
void AnswerDroppingProxy::Tunnel(int client, int upstream, const std::string &pending) {
  if (!SendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n") ||
      !SendAll(upstream, pending)) {
    return;
  }
  pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
  char chunk[16384];
  while (poll(ends, 2, -1) > 0) {
    for (int from = 0; from < 2; ++from) {
      if (ends[from].revents == 0) continue;
      ssize_t got = recv(ends[from].fd, chunk, sizeof chunk, 0);
      if (got <= 0 ||
          !SendAll(ends[1 - from].fd, std::string(chunk, static_cast<std::size_t>(got)))) {
        return;
      }
    }
  }
}

void AnswerDroppingProxy::Serve(int client) {
  int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(upstream_port_);
  if (upstream >= 0 && Track(upstream)) {
    if (connect(upstream, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
      std::string from_client, from_server, request, answer;
      for (int number = 1; ReadMessage(client, true, &from_client, &request); ++number) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          request_lines_.push_back(request.substr(0, request.find("\r\n")));
        }
        if (request.compare(0, 8, "CONNECT ") == 0) {
          if (hold_tunnels_) {
            char byte;
            while (recv(client, &byte, 1, 0) > 0) {
            }
          } else {
            Tunnel(client, upstream, from_client);
          }
          break;
        }
        ++forwarded_;
        if (!SendAll(upstream, WithOriginTarget(request)) ||
            !ReadMessage(upstream, false, &from_server, &answer)) {
          break;
        }
        if (number == drop_answer_) {
          ++dropped_;
          break;
        }
        if (!SendAll(client, answer)) break;
      }
    }
    Untrack(upstream);
  } else if (upstream >= 0) {
    close(upstream);
  }
  Untrack(client);
}

}  // namespace kel::test
