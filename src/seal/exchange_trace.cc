#include "seal/exchange_trace.h"

#include <exception>
#include <string>
#include <utility>

#include "net/url_parts.h"

namespace kel {
namespace {

// The trace's name for where an exchange ran out of time.
const char *PhaseToken(TransportPhase phase) {
  switch (phase) {
    case TransportPhase::kNameLookup:
      return "name-lookup";
    case TransportPhase::kConnect:
      return "connect";
    case TransportPhase::kTls:
      return "tls";
    case TransportPhase::kSend:
      return "send";
    case TransportPhase::kWait:
      return "wait";
    case TransportPhase::kReceive:
      break;
  }
  return "receive";
}

// The trace's name for what was wrong with the server's certificate.
const char *CertificateToken(CertificateProblem problem) {
  switch (problem) {
    case CertificateProblem::kSelfSigned:
      return "self-signed";
    case CertificateProblem::kUntrusted:
      return "untrusted";
    case CertificateProblem::kExpired:
      return "expired";
    case CertificateProblem::kWrongHost:
      return "wrong-host";
    case CertificateProblem::kRejected:
    case CertificateProblem::kNone:
      break;
  }
  return "rejected";
}

// Where an exchange that got no answer stopped: "url" when the URL names
// no server (no host, no usable port), "not-sent" when the transport could
// not start it, else the phase that failed.
const char *FailureToken(const HttpRequest &request, const TransportResult &transport) {
  if (request.host().empty() || request.port() == 0) return "url";
  if (transport.end == TransportEnd::kNotSent) return "not-sent";
  return PhaseToken(transport.phase);
}

// "default-port,root-path,..." for the request's UrlMend bits.
std::string MendList(unsigned mends) {
  static const std::pair<unsigned, const char *> kTokens[] = {
      {kMendDefaultPort, "default-port"},
      {kMendUserDropped, "user-dropped"},
      {kMendFragmentDropped, "fragment-dropped"},
      {kMendRootPath, "root-path"},
      {kMendSchemeTakenAsHttp, "scheme-taken-as-http"},
  };
  std::string list;
  for (const auto &[bit, token] : kTokens) {
    if ((mends & bit) == 0) continue;
    if (!list.empty()) list += ',';
    list += token;
  }
  return list;
}

// The scheme as the URL spells it; empty when the URL has none.
std::string Scheme(const std::string &url) {
  std::size_t start = AuthorityStart(url);
  return start == 0 ? std::string() : url.substr(0, start - 3);
}

// "name:length,..." for the request's parameters; their values stay out.
std::string ParamLengths(const HttpRequest &request) {
  std::string list;
  for (const auto &param : request.params()) {
    if (!list.empty()) list += ',';
    list += param.name + ":" + std::to_string(param.value.size());
  }
  return list;
}

// The request target as it goes on the wire: the object name with a
// leading '/'.
std::string Target(const std::string &object_name) {
  return !object_name.empty() && object_name[0] == '/' ? object_name : "/" + object_name;
}

}  // namespace

void ExchangeTrace::Write(const HttpRequest &request,
                          const ExchangeOutcome &outcome) const noexcept {
  if (!on_) return;
  try {
    const TransportResult &transport = request.result();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start_)
                  .count();
    trace::Line line("exchange");
    line.Add("result", ExchangeToken(outcome.status))
        .Add("format", FormatToken(outcome.format))
        .Add("status", static_cast<std::uint64_t>(transport.status < 0 ? 0 : transport.status))
        .Add("scheme", Scheme(request.url()))
        .Add("host", request.host())
        .Add("port",
             request.port_text().empty() ? std::to_string(request.port()) : request.port_text())
        .Add("target", Target(request.object_name()))
        .Add("proxy", transport.proxy.empty() ? std::string("none") : transport.proxy)
        .Add("params", ParamLengths(request))
        .Add("sent", transport.sent)
        .Add("received", transport.received)
        .Add("ms", static_cast<std::uint64_t>(ms < 0 ? 0 : ms));
    if (request.mends() != 0) line.Add("mend", MendList(request.mends()));
    if (transport.end == TransportEnd::kTimedOut) line.Add("timeout", PhaseToken(transport.phase));
    if (transport.end == TransportEnd::kNotSent || transport.end == TransportEnd::kFailed) {
      line.Add("failed", FailureToken(request, transport));
    }
    if (transport.certificate != CertificateProblem::kNone) {
      line.Add("certificate", CertificateToken(transport.certificate));
    }
    if (!transport.error.empty()) line.Add("error", transport.error);
    line.Write();
  } catch (const std::exception &) {
    // No memory for the line: the trace loses it, the call goes on.
  }
}

}  // namespace kel
