#include "seal_server.h"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <list>
#include <optional>
#include <system_error>

#include "connection_lobby.h"

namespace kel::server {
namespace {

constexpr std::size_t kOversizeAnswer = 16 * 1024 * 1024 + 1;
// Connections that wait to be accepted: a burst of clients is queued, not
// refused (a backlog of 5 lost connections of a thousand opened at once).
constexpr int kListenBacklog = 1024;
// Workers start when requests need them, up to this many: slow clients and
// delayed answers hold one each without starving the others.
constexpr std::size_t kMaxWorkers = 128;
// Requests answered on one connection before the server closes it.
constexpr std::size_t kKeptRequests = 1000;

std::string LocalTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
}

std::string Param(const std::multimap<std::string, std::string> &params, const std::string &name) {
  auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

bool Has(const std::multimap<std::string, std::string> &params, const std::string &name) {
  return params.count(name) != 0;
}

// delay_ms as a number of milliseconds from 0 to kMaxDelayMs.
bool ParseDelay(const std::string &text, long *milliseconds) {
  if (text.empty() || text.size() > 6) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > kMaxDelayMs) return false;
  *milliseconds = value;
  return true;
}

// A value for the request log: one word, printable ASCII; anything else
// percent-escaped.
std::string LogText(const std::string &text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c > 0x20 && c < 0x7F && c != '%' && c != '&' && c != '=') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Starts workers as connections arrive, up to a limit, and keeps them for
// the next ones.
class GrowingPool : public httplib::TaskQueue {
 public:
  explicit GrowingPool(std::size_t max_workers) : max_workers_(max_workers) {}

  void enqueue(std::function<void()> job) override {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    // A worker woken for an earlier job counts as idle until it takes it:
    // what matters is whether the jobs waiting outnumber the idle workers.
    // (Starting a worker only when none is idle left a burst of jobs, such
    // as the lobby hands over, waiting behind long ones.)
    if (jobs_.size() > idle_ && workers_.size() < max_workers_) {
      workers_.emplace_back([this] { Work(); });
    } else {
      job_added_.notify_one();
    }
  }

  // Called once the server accepts no more connections: finishes the jobs
  // queued and waits for every worker.
  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      shutdown_ = true;
    }
    job_added_.notify_all();
    for (auto &worker : workers_) worker.join();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ++idle_;
        job_added_.wait(lock, [this] { return shutdown_ || !jobs_.empty(); });
        --idle_;
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  const std::size_t max_workers_;
  std::mutex mutex_;
  std::condition_variable job_added_;
  std::list<std::function<void()>> jobs_;
  std::vector<std::thread> workers_;
  std::size_t idle_ = 0;
  bool shutdown_ = false;
};

// An http server whose accepted connections go to a lobby to wait for their
// requests, rather than each holding a worker from the start.
class LobbyServer : public httplib::Server {
 public:
  explicit LobbyServer(std::function<void(int)> admit) : admit_(std::move(admit)) {}

  // Reads one request from `stream` and answers it; `last` closes the
  // connection after it. False when no request could be read.
  bool Process(httplib::Stream &stream, bool last, bool *closed) {
    return process_request(stream, last, *closed, nullptr);
  }

 private:
  bool process_and_close_socket(socket_t socket) override {
    admit_(socket);
    return true;
  }

  std::function<void(int)> admit_;
};

// The listening socket of a bound server, which httplib keeps to itself.
struct ListeningSocket : httplib::Server {
  static socket_t Of(httplib::Server &server) {
    return (server.*(&ListeningSocket::svr_sock_)).load();
  }
};

std::unique_ptr<httplib::Server> MakeHttpServer(const SealServerOptions &options,
                                                std::function<void(int)> admit) {
  if (options.tls_cert_path.empty() && options.tls_key_path.empty()) {
    return std::make_unique<LobbyServer>(std::move(admit));
  }
  return std::make_unique<httplib::SSLServer>([&options](SSL_CTX &context) {
    // An encrypted key is refused rather than asked for on the terminal.
    SSL_CTX_set_default_passwd_cb(&context, [](char *, int, int, void *) { return -1; });
    SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION);
    return SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) == 1 &&
           SSL_CTX_use_certificate_chain_file(&context, options.tls_cert_path.c_str()) == 1 &&
           SSL_CTX_use_PrivateKey_file(&context, options.tls_key_path.c_str(), SSL_FILETYPE_PEM) ==
               1 &&
           SSL_CTX_check_private_key(&context) == 1;
  });
}

}  // namespace

struct SealServer::Answer {
  int status = 200;
  std::string body;
  bool close_early = false;
  // For the request log: the format of a signed answer, its result status
  // (verdicts and records) and the fault it was built with.
  std::string format;
  std::string result_status;
  std::string fault;
};

SealServer::Answer SealServer::Refusal(int status, std::string text) {
  Answer answer;
  answer.status = status;
  answer.body = std::move(text);
  return answer;
}

SealServer::Answer SealServer::TooManyParameters() {
  return Refusal(400, "more than " + std::to_string(kMaxParameters) +
                          " parameters (a transaction takes at most six)");
}

std::vector<FaultInfo> Faults() {
  std::vector<FaultInfo> faults = AnswerFaults();
  faults.push_back({"empty-body", "status 200 and no body at all"});
  faults.push_back({"close-early", "a body announced, then the connection closed"});
  faults.push_back({"http-500", "an HTML error page with status 500"});
  faults.push_back({"oversize", "a body of 16 MiB and one byte, past what Kel reads"});
  return faults;
}

std::vector<std::string> FaultNames() {
  std::vector<std::string> names;
  for (const auto &fault : Faults()) names.push_back(fault.name);
  return names;
}

SealServer::SealServer(SealServerOptions options)
    : options_(std::move(options)),
      builder_(options_.keys, options_.document_padding),
      records_(options_.records_path, options_.encoding, options_.sync_records),
      http_(MakeHttpServer(options_, [this](int socket) {
        WaitingConnection connection;
        connection.fd = socket;
        lobby_->Admit(std::move(connection));
      })) {
  if (options_.tls_cert_path.empty() && options_.tls_key_path.empty()) {
    lobby_ = std::make_unique<ConnectionLobby>(
        std::chrono::seconds(options_.client_timeout_seconds),
        std::chrono::seconds(options_.request_deadline_seconds),
        [this](WaitingConnection connection) {
          auto shared = std::make_shared<WaitingConnection>(std::move(connection));
          pool_.load()->enqueue([this, shared] { ServeWaiting(std::move(*shared)); });
        });
  }
  // Only this server on its port: httplib's default SO_REUSEPORT would let a
  // second server bind it too, and the kernel would share the requests out.
  http_->set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http_->new_task_queue = [this] {
    pool_ = new GrowingPool(kMaxWorkers);
    return pool_.load();
  };
  // No request body is kept whole past the limit, whatever the method.
  http_->set_payload_max_length(kMaxRequestBody);
  time_t timeout = options_.client_timeout_seconds;
  http_->set_read_timeout(timeout);
  http_->set_write_timeout(timeout);
  http_->set_keep_alive_timeout(timeout);
  // Clients keep their connections: many requests on one, and no Nagle
  // delay between an answer's header and body (with the client's delayed
  // acknowledgement that costs 40 ms a request on a kept connection).
  http_->set_keep_alive_max_count(kKeptRequests);
  http_->set_tcp_nodelay(true);
  // Errors that httplib answers itself (a malformed request, a target too
  // long) get a body that says what happened.
  http_->set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        response.set_content("HTTP status " + std::to_string(response.status), "text/plain");
        return httplib::Server::HandlerResponse::Handled;
      }));

  auto received = [](const httplib::Request &request, std::string body) {
    ReceivedRequest copy{request.method, request.target, {}, std::move(body)};
    for (const auto &header : request.headers) copy.headers.insert(header);
    return copy;
  };
  // The body is read here rather than by httplib, which would refuse a form
  // of more than 8 KiB: a remark of a few thousand characters is a form of
  // tens of kilobytes once escaped.
  http_->Post(".*", [this, received](const httplib::Request &request, httplib::Response &response,
                                     const httplib::ContentReader &reader) {
    std::multimap<std::string, std::string> params = request.params;
    if (request.is_multipart_form_data()) {
      response.set_header("Connection", "close");
      Answer refusal = Refusal(415, "the request body is no form (multipart bodies are not read)");
      Serve(received(request, ""), params, &refusal, &response);
      return;
    }
    std::string body;
    bool too_long = false;
    bool complete = reader([&](const char *data, std::size_t size) {
      if (body.size() + size > kMaxRequestBody) {
        too_long = true;
        return false;
      }
      body.append(data, size);
      return true;
    });
    // A body announced as longer than the limit is read and dropped by
    // httplib, so that the client is still there to read the 413.
    too_long = too_long || std::strtoull(request.get_header_value("Content-Length").c_str(),
                                         nullptr, 10) > kMaxRequestBody;
    if (!complete && !too_long) {
      response.status = 400;
      response.set_header("Connection", "close");
      response.set_content("incomplete request body", "text/plain");
      return;
    }
    Answer refusal;
    bool form =
        request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0;
    if (too_long) {
      response.set_header("Connection", "close");
      refusal = Refusal(
          413, "the request body is larger than " + std::to_string(kMaxRequestBody) + " bytes");
    } else if (form && params.size() + 1 +
                               static_cast<std::size_t>(std::count(body.begin(), body.end(), '&')) >
                           kMaxParameters) {
      // Counted before the form is parsed, which would cost far more.
      refusal = TooManyParameters();
    } else if (form) {
      httplib::detail::parse_query_text(body, params);
    }
    Serve(received(request, std::move(body)), params, refusal.status != 200 ? &refusal : nullptr,
          &response);
  });
  http_->Get(".*", [this, received](const httplib::Request &request, httplib::Response &response) {
    Answer refusal = TooManyParameters();
    Serve(received(request, request.body), request.params,
          request.params.size() > kMaxParameters ? &refusal : nullptr, &response);
  });
}

SealServer::~SealServer() {
  Stop();
  if (log_ != nullptr && log_ != stderr) std::fclose(log_);
}

bool SealServer::Start() {
  if (!http_->is_valid()) {
    start_error_ = "cannot use the TLS certificate " + options_.tls_cert_path + " and key " +
                   options_.tls_key_path + " (PEM files, the key matching the certificate)";
    return false;
  }
  if (options_.request_log == "-") {
    log_ = stderr;
  } else if (!options_.request_log.empty()) {
    log_ = std::fopen(options_.request_log.c_str(), "a");
    if (log_ == nullptr) {
      start_error_ = "cannot open the request log " + options_.request_log + ": " +
                     std::generic_category().message(errno);
      return false;
    }
  }
  errno = 0;
  port_ = options_.port == 0
              ? http_->bind_to_any_port(options_.host)
              : (http_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port_ <= 0) {
    start_error_ = "cannot listen on " + options_.host + " port " + std::to_string(options_.port) +
                   (errno != 0 ? ": " + std::generic_category().message(errno) : std::string());
    return false;
  }
  // Listening already; this only lengthens the queue of connections.
  ::listen(ListeningSocket::Of(*http_), kListenBacklog);
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  // Bound already, so clients can connect; wait until requests are served.
  for (int i = 0; i < 5000 && !http_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void SealServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_changed_.notify_all();
  if (!thread_.joinable()) return;
  if (lobby_ != nullptr) lobby_->Stop();
  http_->stop();
  thread_.join();
}

void SealServer::ServeWaiting(WaitingConnection connection) {
  std::chrono::milliseconds timeout = std::chrono::seconds(options_.client_timeout_seconds);
  LobbyStream stream(&connection, timeout, timeout);
  bool last = ++connection.requests >= kKeptRequests;
  bool closed = false;
  bool served = static_cast<LobbyServer &>(*http_).Process(stream, last, &closed);
  if (!served || closed || last) {
    shutdown(connection.fd, SHUT_RDWR);
    close(connection.fd);
    return;
  }
  stream.KeepUnread();
  lobby_->Admit(std::move(connection));
}

void SealServer::FreezeForExit() {
  records_.Freeze();
  std::lock_guard<std::mutex> lock(log_mutex_);
  if (log_ != nullptr) std::fflush(log_);
}

std::string SealServer::url() const {
  std::string host =
      options_.host.find(':') == std::string::npos ? options_.host : "[" + options_.host + "]";
  const char *scheme = options_.tls_cert_path.empty() ? "http://" : "https://";
  return scheme + host + ":" + std::to_string(port_) + "/";
}

std::vector<ReceivedRequest> SealServer::Received() const {
  std::lock_guard<std::mutex> lock(received_mutex_);
  return std::vector<ReceivedRequest>(received_.begin(), received_.end());
}

void SealServer::Serve(const ReceivedRequest &request,
                       const std::multimap<std::string, std::string> &params, const Answer *refusal,
                       httplib::Response *response) {
  if (options_.kept_requests > 0) {
    std::lock_guard<std::mutex> lock(received_mutex_);
    received_.push_back(request);
    if (received_.size() > options_.kept_requests) received_.pop_front();
  }
  Answer answer = refusal != nullptr ? *refusal : Respond(params);
  Log(request, params, answer);
  response->status = answer.status;
  if (answer.close_early) {
    // Promise a body, then drop the connection before any of it.
    response->set_content_provider(
        64, "text/plain", [](std::size_t, std::size_t, httplib::DataSink &) { return false; });
    return;
  }
  response->set_content(answer.body, "text/plain");
}

bool SealServer::Delay(long milliseconds) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  return !stop_changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return stopping_; });
}

void SealServer::Log(const ReceivedRequest &request,
                     const std::multimap<std::string, std::string> &params, const Answer &answer) {
  if (log_ == nullptr) return;
  std::string path =
      httplib::detail::decode_url(request.target.substr(0, request.target.find('?')), false);
  std::string line = LocalTimeText() + " " + request.method + " " + LogText(path);
  for (const auto &param : params) {
    line += " " + LogText(param.first) + "=" + (param.first == "enc" ? "*" : LogText(param.second));
  }
  line += " -> " + std::to_string(answer.status);
  if (!answer.format.empty()) line += " " + answer.format;
  if (!answer.result_status.empty()) line += " status=" + answer.result_status;
  if (!answer.fault.empty() && answer.fault != "none") line += " fault=" + answer.fault;
  line += "\n";
  std::lock_guard<std::mutex> lock(log_mutex_);
  std::fwrite(line.data(), 1, line.size(), log_);
  std::fflush(log_);
}

// What a signed answer carries.
struct SignedContent {
  std::vector<Field> fields;
  std::vector<std::string> signed_fields;
  std::string framed;         // the signed content of a framed answer
  std::string result_status;  // for the request log: of verdicts and records
};

namespace {

SignedContent TimeContent(const std::string &content) {
  std::string date = LocalTimeText();
  return {{{"content", content}, {"date", date}}, {"content", "date"}, content + date, ""};
}

// A verdict, or the outcome of a record: a status and its description.
SignedContent StatusContent(const std::string &status, const std::string &description) {
  return {{{"status", status}, {"desc", description}},
          {"status", "desc"},
          "0," + status + "," + description,
          status};
}

}  // namespace

SealServer::Answer SealServer::Respond(const std::multimap<std::string, std::string> &params) {
  std::string fault_name = options_.fault;
  if (options_.test_hooks) {
    if (std::optional<Answer> refusal = HonourTestHooks(params, &fault_name)) return *refusal;
  }
  if (std::optional<Answer> broken = TransportFault(fault_name)) return *broken;
  Fault fault = Fault::kNone;
  if (!ParseFault(fault_name, &fault)) return Refusal(400, "unknown fault " + fault_name);
  std::string key = Param(params, "enc");
  if (key.empty()) return Refusal(400, "missing enc");
  std::optional<SignedContent> content = Transaction(params);
  if (!content) return Refusal(400, "unknown transaction");
  if (options_.test_hooks && Has(params, "result")) content->framed = Param(params, "result");

  // A client may pick either format: both carry the same content, which
  // the server decides, signed with its own keys.
  AnswerFormat format = options_.format;
  if (Param(params, "format") == "framed") format = AnswerFormat::kFramed;
  if (Param(params, "format") == "document") format = AnswerFormat::kDocument;
  std::string body =
      builder_.Build(format, key, content->fields, content->signed_fields, content->framed, fault);
  if (body.empty()) return Refusal(500, "the server cannot sign");
  Answer answer;
  answer.body = std::move(body);
  answer.format = format == AnswerFormat::kFramed ? "framed" : "document";
  answer.result_status = content->result_status;
  answer.fault = fault_name;
  return answer;
}

std::optional<SealServer::Answer> SealServer::HonourTestHooks(
    const std::multimap<std::string, std::string> &params, std::string *fault_name) {
  if (Has(params, "delay_ms")) {
    long delay = 0;
    if (!ParseDelay(Param(params, "delay_ms"), &delay)) {
      return Refusal(400, "delay_ms takes a whole number from 0 to " + std::to_string(kMaxDelayMs));
    }
    if (!Delay(delay)) return Refusal(503, "the server is stopping");
  }
  if (Has(params, "fault")) *fault_name = Param(params, "fault");
  return std::nullopt;
}

std::optional<SealServer::Answer> SealServer::TransportFault(const std::string &fault_name) {
  Answer broken;
  broken.fault = fault_name;
  if (fault_name == "empty-body") return broken;
  if (fault_name == "close-early") {
    broken.close_early = true;
    return broken;
  }
  if (fault_name == "http-500") {
    broken.status = 500;
    broken.body = "<html><body><h1>500 Internal Server Error</h1></body></html>";
    return broken;
  }
  if (fault_name == "oversize") {
    broken.body = std::string(kOversizeAnswer, 'a');
    return broken;
  }
  return std::nullopt;
}

std::optional<SignedContent> SealServer::Transaction(
    const std::multimap<std::string, std::string> &params) {
  if (Has(params, "content")) return TimeContent(Param(params, "content"));
  if (Has(params, "type") || Has(params, "id")) {
    VerdictFields verdict = options_.registry.Verdict(Param(params, "id"), Param(params, "name"));
    return StatusContent(verdict.status, verdict.description);
  }
  if (Has(params, "username") || Has(params, "sealid")) {
    // "recorded" only once the record is in the log; otherwise a signed
    // answer with status 1 that says why.
    std::string error;
    if (!records_.Append(LocalTimeText(), Param(params, "username"), Param(params, "sealid"),
                         Param(params, "remark"), &error)) {
      return StatusContent("1", "the record was not written: " + error);
    }
    return StatusContent("0", "recorded");
  }
  return std::nullopt;
}

}  // namespace kel::server
