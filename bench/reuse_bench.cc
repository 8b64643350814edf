// What keeping connections saves over a distant server: Kel_VerifySeal over
// https through a loopback relay that delays every piece of data by 20 ms
// each way (a 40 ms round trip, and one more for a new connection's TCP
// handshake), in front of the reference seal server serving TLS. Measured
// in one run:
//   - the first call: a new connection and a full TLS handshake;
//   - calls 2 to 100, which find the connection of the call before;
//   - calls with reuse switched off (a hook of the test build of the
//     library), each opening its own connection and TLS session, as every
//     call did before connections were kept;
//   - the floor: a bare POST of the same body over a kept-alive connection
//     of its own, one round trip plus the server's own time.
// The relay counts the connections each series opens, which shows how often
// the server closed a kept connection. Goals, on the mean of each series:
// calls 2 to 100 within 1.2 times the floor (its median), and at least 2.5
// times faster than calls with reuse off.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "exchange_support.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kOneWay{20};
constexpr int kCalls = 100;
constexpr int kFreshCalls = 50;

// A TCP relay on 127.0.0.1 to a port of the same host that holds every piece
// of data for a while before passing it on, in both directions, and counts
// the connections it accepts.
class DelayRelay {
 public:
  DelayRelay(int target_port, milliseconds delay) : target_port_(target_port), delay_(delay) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
      std::fprintf(stderr, "the relay cannot listen\n");
      std::exit(EXIT_FAILURE);
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }

  ~DelayRelay() {
    stop_ = true;
    acceptor_.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int fd : sockets_) shutdown(fd, SHUT_RDWR);
    }
    for (auto &pump : pumps_) pump.join();
    for (int fd : sockets_) close(fd);
    close(listener_);
  }

  int port() const { return port_; }
  std::size_t connections() const { return connections_; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  void Accept() {
    while (!stop_) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 50) != 1) continue;
      int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      int server = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in target = Loopback(target_port_);
      if (server < 0 ||
          connect(server, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
        close(client);
        if (server >= 0) close(server);
        continue;
      }
      // A relay passes pieces on as they come, as a network does: no
      // waiting to gather small writes.
      int yes = 1;
      setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      ++connections_;
      std::lock_guard<std::mutex> lock(mutex_);
      sockets_.push_back(client);
      sockets_.push_back(server);
      // The kernel completed the TCP handshake with the client at once; a
      // distant server takes a round trip for it. The client's first bytes
      // are held that much longer, so that they reach the server when they
      // would over such a network.
      pumps_.emplace_back([this, client, server] { Pump(client, server, 2 * delay_); });
      pumps_.emplace_back([this, client, server] { Pump(server, client, milliseconds(0)); });
    }
  }

  // Passes what `from` sends on to `to`, each piece `delay_` after it came
  // (the first `handshake` later still); once `from` has ended and
  // everything is passed on, ends `to`'s side.
  void Pump(int from, int to, milliseconds handshake) {
    std::deque<std::pair<Clock::time_point, std::string>> line;
    bool open = true;
    std::vector<char> buffer(64 * 1024);
    while ((open || !line.empty()) && !stop_) {
      int wait_ms = 100;
      if (!line.empty()) {
        auto due = std::chrono::ceil<milliseconds>(line.front().first - Clock::now()).count();
        wait_ms = static_cast<int>(std::max<long long>(0, due));
      }
      pollfd entry{from, POLLIN, 0};
      int ready = open ? poll(&entry, 1, wait_ms) : 0;
      if (!open && wait_ms > 0) std::this_thread::sleep_for(milliseconds(wait_ms));
      if (ready == 1) {
        ssize_t got = read(from, buffer.data(), buffer.size());
        if (got <= 0) {
          open = false;
        } else {
          line.emplace_back(Clock::now() + delay_ + handshake,
                            std::string(buffer.data(), static_cast<std::size_t>(got)));
          handshake = milliseconds(0);
        }
      }
      while (!line.empty() && line.front().first <= Clock::now()) {
        const std::string &piece = line.front().second;
        for (std::size_t sent = 0; sent < piece.size();) {
          ssize_t wrote = write(to, piece.data() + sent, piece.size() - sent);
          if (wrote <= 0) return;
          sent += static_cast<std::size_t>(wrote);
        }
        line.pop_front();
      }
    }
    shutdown(to, SHUT_WR);
  }

  const int target_port_;
  const milliseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> connections_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<int> sockets_;
  std::vector<std::thread> pumps_;
};

// A bare POST of the form body over one kept-alive connection of its own:
// what an exchange cannot do without once a connection is open.
class KeptAlivePost {
 public:
  KeptAlivePost(const std::string &url, const std::string &ca_file, const std::string &body)
      : curl_(curl_easy_init()), body_(body) {
    headers_ = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(curl_, CURLOPT_USERAGENT, "MyAgent");
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body_.c_str());
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(
        curl_, CURLOPT_WRITEFUNCTION,
        +[](char *, size_t size, size_t count, void *) { return size * count; });
  }
  ~KeptAlivePost() {
    curl_easy_cleanup(curl_);
    curl_slist_free_all(headers_);
  }
  KeptAlivePost(const KeptAlivePost &) = delete;
  KeptAlivePost &operator=(const KeptAlivePost &) = delete;
  bool operator()() {
    long status = 0;
    return curl_easy_perform(curl_) == CURLE_OK &&
           curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  }

 private:
  CURL *curl_;
  curl_slist *headers_ = nullptr;
  std::string body_;
};

double Seconds(const std::function<bool()> &call, bool *ok) {
  auto start = Clock::now();
  *ok = call() && *ok;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Figures {
  double median;
  double mean;
};

Figures Summary(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2],
          std::accumulate(times.begin(), times.end(), 0.0) / static_cast<double>(times.size())};
}

}  // namespace

int main() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  kel::test::TempDir dir;
  if (kel::test::RunChild(KEL_MAKE_TEST_CERTIFICATES, {dir.path().string()}, dir.path())
          .exit_code != 0) {
    std::fprintf(stderr, "the test certificates could not be made\n");
    return EXIT_FAILURE;
  }
  const std::string ca_file = (dir / "ca.pem").string();
  kel::server::SealServerOptions options;
  options.keys.framed_pem = kel::test::FixtureFile("dev-only-document-server-key.pem");
  options.keys.document_pem = options.keys.framed_pem;
  options.registry.Add("S-1", {"Acme", "0", "valid seal"});
  options.tls_cert_path = (dir / "server.pem").string();
  options.tls_key_path = (dir / "server.key").string();
  kel::server::SealServer server(options);
  if (!server.Start()) {
    std::fprintf(stderr, "the seal server did not start: %s\n", server.start_error().c_str());
    return EXIT_FAILURE;
  }
  DelayRelay relay(server.port(), kOneWay);
  const std::string direct = server.url();
  const std::string distant = "https://127.0.0.1:" + std::to_string(relay.port()) + "/";

  // The test build of the library, trusting the test CA only.
  kel::test::LoadedKel kel(kel::test::FixtureFile("dev-only-document-server-key.pub"),
                           KEL_TESTING_LIBRARY);
  auto trust = reinterpret_cast<void (*)(const char *)>(kel.Symbol("KelTesting_TrustCaFile"));
  auto reuse = reinterpret_cast<void (*)(int)>(kel.Symbol("KelTesting_ReuseConnections"));
  if (trust == nullptr || reuse == nullptr) {
    std::fprintf(stderr, "the test build of the library lacks its hooks\n");
    return EXIT_FAILURE;
  }
  trust(ca_file.c_str());
  auto verify = [&kel](const std::string &url) {
    return [&kel, url] {
      int status = -1;
      return kel.VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status) == 0 && status == 0;
    };
  };

  // One call straight to the server first, so that the first call through
  // the relay finds the library, libcurl and OpenSSL started and no TLS
  // session to resume (sessions are kept per host and port).
  bool ok = true;
  Seconds(verify(direct), &ok);
  std::size_t opened = relay.connections();
  auto connections_since = [&relay, &opened] {
    std::size_t now = relay.connections();
    return now - std::exchange(opened, now);
  };
  double first = Seconds(verify(distant), &ok);
  std::size_t first_connections = connections_since();
  std::vector<double> repeated;
  for (int i = 1; i < kCalls; ++i) repeated.push_back(Seconds(verify(distant), &ok));
  std::size_t repeated_connections = connections_since();

  reuse(0);
  std::vector<double> fresh;
  for (int i = 0; i < kFreshCalls; ++i) fresh.push_back(Seconds(verify(distant), &ok));
  std::size_t fresh_connections = connections_since();
  reuse(1);

  KeptAlivePost post(distant, ca_file, kel::bench::VerifySealBody("0123456789abcdef"));
  auto bare_post = [&post] { return post(); };
  Seconds(bare_post, &ok);  // opens its connection
  connections_since();
  std::vector<double> floor;
  for (int i = 1; i < kCalls; ++i) floor.push_back(Seconds(bare_post, &ok));
  std::size_t floor_connections = connections_since();
  server.Stop();
  if (!ok) {
    std::fprintf(stderr, "a call failed: %s\n", kel.LastError().c_str());
    return EXIT_FAILURE;
  }

  Figures calls = Summary(repeated);
  Figures fresh_calls = Summary(fresh);
  Figures bare = Summary(floor);
  std::printf("Kel_VerifySeal over https through a relay adding %lld ms each way, same run:\n",
              static_cast<long long>(kOneWay.count()));
  std::printf("  %-40s %8s %8s  %s\n", "ms per call", "median", "mean", "new connections");
  std::printf("  %-40s %8.1f %8s  %zu\n", "first call", first * 1e3, "", first_connections);
  std::printf("  %-40s %8.1f %8.1f  %zu for %d calls\n", "calls 2-100", calls.median * 1e3,
              calls.mean * 1e3, repeated_connections, kCalls - 1);
  std::printf("  %-40s %8.1f %8.1f  %zu for %d calls\n", "calls with reuse off (fresh connections)",
              fresh_calls.median * 1e3, fresh_calls.mean * 1e3, fresh_connections, kFreshCalls);
  std::printf("  %-40s %8.1f %8.1f  %zu for %d posts\n", "bare POST, kept-alive connection",
              bare.median * 1e3, bare.mean * 1e3, floor_connections, kCalls - 1);
  // The floor is one round trip and the server's time: the median bare POST.
  double to_floor_median = calls.median / bare.median;
  double to_floor = calls.mean / bare.median;
  double saved_median = fresh_calls.median / calls.median;
  double saved = fresh_calls.mean / calls.mean;
  bool met = to_floor <= 1.2 && saved >= 2.5;
  std::printf("Ratios, goals judged on the means:\n");
  std::printf("  %-40s %8s %8s\n", "", "median", "mean");
  std::printf("  %-40s %8.2f %8.2f  (goal <= 1.2)  %s\n", "calls 2-100 vs bare kept-alive POST",
              to_floor_median, to_floor, to_floor <= 1.2 ? "met" : "MISSED");
  std::printf("  %-40s %8.2f %8.2f  (goal >= 2.5)  %s\n", "reuse off vs calls 2-100", saved_median,
              saved, saved >= 2.5 ? "met" : "MISSED");
  std::printf("  %-40s %8.2f %8.2f\n", "first call vs calls 2-100", first / calls.median,
              first / calls.mean);
  return met ? EXIT_SUCCESS : 2;
}
