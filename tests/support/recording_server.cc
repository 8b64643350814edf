#include "support/recording_server.h"

#include <httplib.h>
#include <strings.h>

#include <algorithm>
#include <stdexcept>

#include "support/raw_listener.h"

namespace kel::test {
namespace {

// httplib's thread pool, counting the connections handed to it: the server
// hands over each connection it accepts.
class CountingQueue : public httplib::TaskQueue {
 public:
  explicit CountingQueue(std::atomic<std::size_t> *count)
      : pool_(CPPHTTPLIB_THREAD_POOL_COUNT), count_(count) {}
  void enqueue(std::function<void()> job) override {
    ++*count_;
    pool_.enqueue(std::move(job));
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  std::atomic<std::size_t> *count_;
};

}  // namespace

bool RecordedRequest::HasHeader(const std::string &name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto &header) {
    return strcasecmp(header.first.c_str(), name.c_str()) == 0;
  });
}

std::string RecordedRequest::Header(const std::string &name) const {
  for (const auto &header : headers) {
    if (strcasecmp(header.first.c_str(), name.c_str()) == 0) return header.second;
  }
  return std::string();
}

CannedAnswer Answer(int status, std::string body) {
  CannedAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

RecordingServer::RecordingServer() : server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [this] { return new CountingQueue(&connections_); };
  // A client may keep its connection for as many requests as it likes, and
  // an answer goes out at once: with Nagle's algorithm, the body would wait
  // for the client to acknowledge the headers, which a client on a kept
  // connection delays (40 ms on Linux).
  server_->set_keep_alive_max_count(1000);
  server_->set_tcp_nodelay(true);
  auto handle = [this](const httplib::Request &request, httplib::Response &response) {
    RecordedRequest record{request.method, request.target, {}, request.body};
    for (const auto &header : request.headers) record.headers.push_back(header);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(std::move(record));
    }
    CannedAnswer answer = AnswerFor(request.path);
    if (!Wait(answer.delay)) return;

    response.status = answer.status;
    for (const auto &header : answer.headers) response.set_header(header.first, header.second);
    if (answer.piece_sizes.empty() && answer.close_after >= answer.body.size()) {
      response.set_content(answer.body, answer.content_type);
      return;
    }
    auto shared = std::make_shared<CannedAnswer>(std::move(answer));
    response.set_content_provider(
        shared->body.size(), shared->content_type,
        [this, shared](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
          const CannedAnswer &a = *shared;
          std::size_t piece_index = 0;
          std::size_t end = std::min(offset + length, a.close_after);
          while (offset < end) {
            std::size_t size = a.piece_sizes.empty()
                                   ? end - offset
                                   : a.piece_sizes[std::min(piece_index, a.piece_sizes.size() - 1)];
            size = std::max<std::size_t>(1, std::min(size, end - offset));
            if (piece_index > 0 && !Wait(a.pause)) return false;
            if (!sink.write(a.body.data() + offset, size)) return false;
            offset += size;
            ++piece_index;
          }
          // Returning false drops the connection short of the announced length.
          return a.close_after >= a.body.size();
        });
  };
  server_->Get(".*", handle);
  server_->Post(".*", handle);
  server_->Put(".*", handle);
  server_->Delete(".*", handle);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("recording server: cannot bind a loopback port");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  for (int tries = 0; !server_->is_running(); ++tries) {
    if (tries == 5000) throw std::runtime_error("recording server: did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

RecordingServer::~RecordingServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopping_changed_.notify_all();
  EndAcceptedConnections(port_);
  server_->stop();
  thread_.join();
}

std::string RecordingServer::Url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RecordingServer::SetAnswer(const std::string &path, CannedAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[path] = std::move(answer);
}

void RecordingServer::SetDefaultAnswer(CannedAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_answer_ = std::move(answer);
}

std::vector<RecordedRequest> RecordingServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

CannedAnswer RecordingServer::AnswerFor(const std::string &path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = answers_.find(path);
  return found != answers_.end() ? found->second : default_answer_;
}

bool RecordingServer::Wait(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_changed_.wait_for(lock, duration, [this] { return stopping_; });
  return !stopping_;
}

}  // namespace kel::test
