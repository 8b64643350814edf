#include "seal_server.h"

#include <httplib.h>

#include <chrono>
#include <ctime>

namespace kel::server {
namespace {

constexpr std::size_t kOversizeAnswer = 16 * 1024 * 1024 + 1;

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

}  // namespace

struct SealServer::Answer {
  int status = 200;
  std::string body;
  bool close_early = false;
};

std::vector<std::string> FaultNames() {
  std::vector<std::string> names = AnswerFaultNames();
  for (const char *name : {"empty-body", "close-early", "http-500", "oversize"}) {
    names.emplace_back(name);
  }
  return names;
}

SealServer::SealServer(SealServerOptions options)
    : options_(std::move(options)),
      builder_(options_.keys),
      records_(options_.records_path),
      http_(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request &request, httplib::Response &response) {
    ReceivedRequest received{request.method, request.target, {}, request.body};
    for (const auto &header : request.headers) received.headers.insert(header);
    {
      std::lock_guard<std::mutex> lock(received_mutex_);
      received_.push_back(received);
    }
    Answer answer = Respond(received, request.params);
    response.status = answer.status;
    if (answer.close_early) {
      // Promise a body, then drop the connection before any of it.
      response.set_content_provider(
          64, "text/plain", [](std::size_t, std::size_t, httplib::DataSink &) { return false; });
      return;
    }
    response.set_content(answer.body, "text/plain");
  };
  http_->Post(".*", handler);
  http_->Get(".*", handler);
}

SealServer::~SealServer() { Stop(); }

bool SealServer::Start() {
  port_ = options_.port == 0
              ? http_->bind_to_any_port(options_.host)
              : (http_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  // Bound already, so clients can connect; wait until requests are served.
  for (int i = 0; i < 5000 && !http_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void SealServer::Stop() {
  if (!thread_.joinable()) return;
  http_->stop();
  thread_.join();
}

std::string SealServer::url() const {
  return "http://" + options_.host + ":" + std::to_string(port_) + "/";
}

std::vector<ReceivedRequest> SealServer::Received() const {
  std::lock_guard<std::mutex> lock(received_mutex_);
  return received_;
}

SealServer::Answer SealServer::Respond(const ReceivedRequest &request,
                                       const std::multimap<std::string, std::string> &params) {
  (void)request;
  if (Has(params, "delay_ms")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(Param(params, "delay_ms"))));
  }
  std::string fault_name = Has(params, "fault") ? Param(params, "fault") : options_.fault;
  if (fault_name == "empty-body") return {};
  if (fault_name == "close-early") return {200, "", true};
  if (fault_name == "http-500") {
    return {500, "<html><body><h1>500 Internal Server Error</h1></body></html>", false};
  }
  if (fault_name == "oversize") return {200, std::string(kOversizeAnswer, 'a'), false};
  Fault fault = Fault::kNone;
  if (!ParseFault(fault_name, &fault)) return {400, "unknown fault " + fault_name, false};

  AnswerFormat format = options_.format;
  if (Param(params, "format") == "framed") format = AnswerFormat::kFramed;
  if (Param(params, "format") == "document") format = AnswerFormat::kDocument;

  std::string key = Param(params, "enc");
  if (key.empty()) return {400, "missing enc", false};

  std::vector<Field> fields;
  std::vector<std::string> signed_fields;
  std::string framed_content;
  if (Has(params, "content")) {
    std::string content = Param(params, "content");
    std::string date = LocalTimeText();
    fields = {{"content", content}, {"date", date}};
    signed_fields = {"content", "date"};
    framed_content = content + date;
  } else if (Has(params, "type") || Has(params, "id")) {
    VerdictFields verdict = options_.registry.Verdict(Param(params, "id"), Param(params, "name"));
    fields = {{"status", verdict.status}, {"desc", verdict.description}};
    signed_fields = {"status", "desc"};
    framed_content = "0," + verdict.status + "," + verdict.description;
  } else if (Has(params, "username") || Has(params, "sealid")) {
    records_.Append(LocalTimeText(), Param(params, "username"), Param(params, "sealid"),
                    Param(params, "remark"));
    fields = {{"status", "0"}, {"desc", "recorded"}};
    signed_fields = {"status", "desc"};
    framed_content = "0,0,recorded";
  } else {
    return {400, "unknown transaction", false};
  }
  // A framed answer may carry any signed content the request asks for.
  if (Has(params, "result")) framed_content = Param(params, "result");
  std::string body = builder_.Build(format, key, fields, signed_fields, framed_content, fault);
  if (body.empty()) return {500, "the server cannot sign", false};
  return {200, body, false};
}

}  // namespace kel::server
