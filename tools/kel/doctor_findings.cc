#include "doctor_findings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kel::cli {
namespace {

constexpr char kKeyFileName[] = "pubkey.key";

Finding Ok(const char *check, std::string detail) {
  return {check, FindingStatus::kOk, std::move(detail), ""};
}

Finding Warn(const char *check, std::string detail, std::string fix) {
  return {check, FindingStatus::kWarn, std::move(detail), std::move(fix)};
}

Finding Fail(const char *check, std::string detail, std::string fix) {
  return {check, FindingStatus::kFail, std::move(detail), std::move(fix)};
}

// The folder of the library file, or a description when it is unknown.
std::string LibraryFolder(const Surroundings &surroundings) {
  if (surroundings.library_path.empty()) return "the library's folder";
  return std::filesystem::u8path(surroundings.library_path).parent_path().u8string();
}

std::string BesideLibrary(const Surroundings &surroundings) {
  if (surroundings.library_path.empty()) return std::string(kKeyFileName) + " beside the library";
  return (std::filesystem::u8path(LibraryFolder(surroundings)) / kKeyFileName).u8string();
}

// " (error text)" when the exchange line has one.
std::string ErrorNote(const TraceLine &exchange) {
  std::string error = exchange.Field("error");
  return error.empty() ? "" : " (" + error + ")";
}

// The key that answers of `format` are checked against, by fingerprint.
std::string KeyChecked(const std::string &format, const TraceLine *start) {
  if (format == "framed") {
    return "the key built into the library (sha256 " +
           (start ? start->Field("builtin_key_sha256", "unknown") : "unknown") + ")";
  }
  return "your pubkey.key (sha256 " + (start ? start->Field("key_sha256", "unknown") : "unknown") +
         ")";
}

bool HasMend(const TraceLine &exchange, const std::string &mend) {
  std::string list = "," + exchange.Field("mend") + ",";
  return list.find("," + mend + ",") != std::string::npos;
}

// The field `failed` or `timeout` names `phase`.
bool StoppedAt(const TraceLine &exchange, const char *phase) {
  return exchange.Field("failed") == phase || exchange.Field("timeout") == phase;
}

// Where the connection goes: the proxy when one is in effect, else the
// URL's host and port.
std::string Peer(const TraceLine &exchange) {
  std::string proxy = exchange.Field("proxy", "none");
  if (proxy != "none") return "the proxy " + proxy;
  return exchange.Field("host") + " port " + exchange.Field("port");
}

// The name looked up: the proxy's when one is in effect.
std::string PeerName(const TraceLine &exchange) {
  std::string proxy = exchange.Field("proxy", "none");
  return proxy != "none" ? "the proxy " + proxy : exchange.Field("host");
}

bool IsHttps(const TraceLine &exchange) {
  std::string scheme = exchange.Field("scheme");
  for (char &c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return scheme == "https";
}

// " within the time limit" when a limit ended the exchange, with the
// transport's words.
std::string HowItStopped(const TraceLine &exchange) {
  return (exchange.Has("timeout") ? " within the time limit" : "") + ErrorNote(exchange);
}

// A part of the URL, "(none)" when empty.
std::string Part(const TraceLine &exchange, const char *name) {
  std::string value = exchange.Field(name);
  return value.empty() ? "(none)" : value;
}

Finding UrlFinding(const TraceLine &exchange) {
  std::string split = "scheme " + Part(exchange, "scheme") + ", host " + Part(exchange, "host") +
                      ", port " + Part(exchange, "port") + ", target " + Part(exchange, "target");
  if (exchange.Field("failed") == "url") {
    return Fail("url",
                "the URL names no server the library can reach: " + split + ErrorNote(exchange),
                "write the URL as http://HOST:PORT/PATH or https://HOST:PORT/PATH");
  }
  std::string mended;
  std::string fixes;
  auto note = [&](const char *mend, const char *text, const char *fix) {
    if (!HasMend(exchange, mend)) return;
    mended += (mended.empty() ? "; mended: " : "; ") + std::string(text);
    if (fix != nullptr) fixes += (fixes.empty() ? "" : "; ") + std::string(fix);
  };
  note("default-port", "no port given, the scheme's default is used", nullptr);
  note("root-path", "no path given, / is requested", nullptr);
  note("fragment-dropped", "the fragment (#...) is not sent", nullptr);
  note("user-dropped", "the user name before @ is not sent",
       "remove the user name from the URL: the library sends none");
  note("scheme-taken-as-http", "the scheme is used as http",
       "write the URL with http:// or https://");
  if (!fixes.empty()) return Warn("url", split + mended, fixes);
  return Ok("url", split + mended);
}

Finding CertificateFinding(const TraceLine &exchange) {
  const std::string certificate = exchange.Field("certificate");
  const std::string host = exchange.Field("host");
  const std::string note = ErrorNote(exchange);
  if (certificate == "self-signed") {
    return Fail("tls",
                "the server's certificate is self-signed, so this machine does not trust it" + note,
                "give the server a certificate from a CA this machine trusts, or add this "
                "certificate to the system's trusted certificates");
  }
  if (certificate == "untrusted") {
    return Fail("tls",
                "the server's certificate is not from a CA this machine trusts (a private CA, or "
                "self-signed)" +
                    note,
                "add the issuing CA to the system's trusted certificates, or use a certificate "
                "from a CA it trusts");
  }
  if (certificate == "expired") {
    return Fail("tls",
                "the server's certificate is outside its validity dates (expired, or not valid "
                "yet)" +
                    note,
                "renew the server's certificate, and check both machines' clocks");
  }
  if (certificate == "wrong-host") {
    return Fail("tls", "the server's certificate is not issued for " + host + note,
                "use in the URL a host name that the certificate names, or give the server a "
                "certificate for " +
                    host);
  }
  if (!certificate.empty()) {
    return Fail("tls", "the server's certificate was rejected" + note,
                "check the server's certificate (revocation, key usage, chain)");
  }
  return Fail(
      "tls",
      "the TLS handshake with " + Peer(exchange) + " did not complete" + HowItStopped(exchange),
      "check that the server speaks https on that port, with TLS 1.2 or later");
}

// The answer of an exchange that got one, or that stopped after connecting.
Finding AnswerFinding(const TraceLine &exchange, const TraceLine *start) {
  const std::string result = exchange.Field("result");
  const std::string format = exchange.Field("format");
  const std::string status = exchange.Field("status", "0");
  if (result == "ok") {
    return Ok("answer", "a " + format +
                            " answer to a server-time request; its signature verifies "
                            "against " +
                            KeyChecked(format, start));
  }
  if (result == "not-verified" && format == "framed") {
    return Fail("answer",
                "the server signs with a key whose public half is not the key built into the "
                "library (sha256 " +
                    (start ? start->Field("builtin_key_sha256", "unknown") : "unknown") +
                    "): its framed answer does not verify against it",
                "build the library with the server's public key text (-DKEL_BUILTIN_SERVER_KEY), "
                "or check that the URL names the server this library was built for");
  }
  if (result == "not-verified") {
    return Fail("answer",
                "the server signs with a key whose public half is not your pubkey.key (sha256 " +
                    (start ? start->Field("key_sha256", "unknown") : "unknown") +
                    "): its document answer does not verify against it",
                "install the public key text of the server's signing key as pubkey.key (its "
                "sha256 prefix then matches), or check that the URL names the server that this "
                "pubkey.key belongs to");
  }
  if (result == "no-server-key") {
    return Fail("answer", "a document answer came, but no pubkey.key was loaded to check it",
                "install the server's public key text as pubkey.key beside the library");
  }
  if (result == "verify-raised") {
    return Fail("answer",
                "the crypto provider failed while checking the " + format + " answer against " +
                    KeyChecked(format, start),
                "check the key text and the provider library (libkestro, KESTRO.dll)");
  }
  if (result == "not-decrypted") {
    return Fail(
        "answer",
        "the " + format +
            " answer does not decrypt under the request's key: the server "
            "does not speak this protocol, or something on the way changes its answers",
        "check the URL's path and any proxy or gateway between this machine and the server");
  }
  if (result == "bad-format") {
    return Fail("answer", "the " + format + " answer is malformed (a field or length is wrong)",
                "check that the URL names the seal service and the server's version");
  }
  if (result == "not-a-document") {
    return Fail("answer",
                "the answer (HTTP " + status + ", " + exchange.Field("received", "0") +
                    " bytes) is in neither answer format: the URL names another service or path",
                "check the URL's path: a seal server answers in the document or framed format");
  }
  if (result == "no-response-key") {
    return Fail("answer", "the crypto provider gave no random key; nothing was sent",
                "check the provider library (libkestro, KESTRO.dll)");
  }
  // unreachable after the connection was made
  if (status != "0") {
    return Fail(
        "answer",
        "the server answered HTTP " + status + " without a usable body" + ErrorNote(exchange),
        "check the URL's path and the server's log");
  }
  return Fail("answer", "no answer came from " + Peer(exchange) + HowItStopped(exchange),
              "check the server's log: it may be overloaded, or something cuts the connection");
}

// Seconds since 1970-01-01 of "YYYY-MM-DD hh:mm:ss", read as UTC; false
// for any other text.
bool ParseTime(const std::string &text, long long *seconds) {
  int year, month, day, hour, minute, second;
  char tail;
  if (text.size() != 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month,
                                       &day, &hour, &minute, &second, &tail) != 6) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  // Days from the civil date (proleptic Gregorian calendar).
  long long y = year - (month <= 2 ? 1 : 0);
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long year_of_era = y - era * 400;
  long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  long long days = era * 146097 + day_of_era - 719468;
  *seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

}  // namespace

const char *StatusToken(FindingStatus status) {
  switch (status) {
    case FindingStatus::kOk:
      return "ok";
    case FindingStatus::kWarn:
      return "warn";
    case FindingStatus::kFail:
      break;
  }
  return "fail";
}

void AddStartFindings(const TraceLine *start, const Surroundings &surroundings,
                      std::vector<Finding> *findings) {
  std::string library = "version " + surroundings.library_version +
                        (surroundings.library_path.empty() ? "" : ", " + surroundings.library_path);
  if (start == nullptr) {
    findings->push_back(Fail("library",
                             "the library (" + library +
                                 ") wrote no trace line at start-up, so what it loaded cannot "
                                 "be seen",
                             "check that TMPDIR (TEMP on Windows) names a writable folder with a "
                             "short path; a library older than this kel writes no fingerprints"));
    return;
  }
  findings->push_back(Ok("library", library));

  const std::string key_file = start->Field("key_file");
  const std::string fingerprint = start->Field("key_sha256", "unknown");
  const std::string form = start->Field("key_form");
  const std::string beside = BesideLibrary(surroundings);
  if (fingerprint == "none") {
    findings->push_back(Fail("key-file",
                             "no pubkey.key was loaded: there is none beside the library (" +
                                 beside + ") and none readable in the current folder (" +
                                 surroundings.current_folder + ")",
                             "put the server's public key text in " + beside));
  } else {
    bool bare = key_file == kKeyFileName;
    std::string path =
        bare ? (std::filesystem::u8path(surroundings.current_folder) / kKeyFileName).u8string()
             : key_file;
    std::string where = bare ? ", found in the current folder: none is beside the library (" +
                                   beside + "); a host started in another folder will not find it"
                             : ", beside the library";
    std::string facts = path + " (" + start->Field("key_bytes", "?") + " bytes";
    if (form == "empty") {
      findings->push_back(Fail("key-file", facts + ", empty)" + where,
                               "write the server's public key text into " + path));
    } else if (form == "unrecognised") {
      findings->push_back(Fail("key-file",
                               facts +
                                   ", not a public key text of the form "
                                   "ecdsa-<curve>-<hash>+<hex>)" +
                                   where,
                               "write the server's public key text into " + path));
    } else {
      findings->push_back(Ok("key-file", facts + (form.empty() ? "" : ", " + form) + ", sha256 " +
                                             fingerprint + ")" + where));
    }
  }

  const std::string builtin = start->Field("builtin_key_sha256", "unknown");
  std::string relation = fingerprint == builtin  ? "the same key as pubkey.key"
                         : fingerprint == "none" ? "no pubkey.key to compare with"
                                                 : "another key than pubkey.key";
  findings->push_back(Ok("built-in-key", "sha256 " + builtin + ", " + relation +
                                             "; framed answers are checked against it, document "
                                             "answers and time stamps against pubkey.key"));
}

void AddExchangeFindings(const TraceLine &exchange, const TraceLine *start,
                         std::vector<Finding> *findings) {
  findings->push_back(UrlFinding(exchange));
  const std::string failed = exchange.Field("failed");
  if (failed == "url") return;
  if (failed == "not-sent") {
    findings->push_back(Fail("connect", "the request could not be started" + ErrorNote(exchange),
                             "check the host name in the URL for stray characters"));
    return;
  }
  const std::string proxy = exchange.Field("proxy");
  const std::string peer = Peer(exchange);
  if (StoppedAt(exchange, "name-lookup")) {
    findings->push_back(Fail("name-lookup",
                             PeerName(exchange) + " was not found" + HowItStopped(exchange),
                             "check the host name in the URL, and this machine's DNS or hosts "
                             "file"));
  } else {
    findings->push_back(Ok("name-lookup", PeerName(exchange) + " was found"));
    if (StoppedAt(exchange, "connect")) {
      const bool via_proxy = proxy != "none" && !proxy.empty();
      findings->push_back(Fail("connect", "no connection to " + peer + HowItStopped(exchange),
                               via_proxy ? "check that the proxy runs there (http_proxy, "
                                           "https_proxy); no_proxy lists hosts reached directly"
                                         : "check the port in the URL and that the seal server "
                                           "runs there; a firewall may be in the way"));
    } else {
      findings->push_back(Ok("connect", "connected to " + peer));
      if (StoppedAt(exchange, "tls") || exchange.Has("certificate")) {
        findings->push_back(CertificateFinding(exchange));
      } else if (IsHttps(exchange)) {
        findings->push_back(
            Ok("tls", "the server's certificate is trusted and names " + exchange.Field("host")));
      }
    }
  }
  findings->push_back(Ok("proxy", proxy.empty()     ? "not reported by this library"
                                  : proxy == "none" ? "none: the library connects directly"
                                                    : proxy + ": the requests go through it"));
  const bool connected = !StoppedAt(exchange, "name-lookup") && !StoppedAt(exchange, "connect") &&
                         !StoppedAt(exchange, "tls") && !exchange.Has("certificate");
  if (connected) findings->push_back(AnswerFinding(exchange, start));
}

Finding UnusableTimeFinding(const std::string &message) {
  return Fail(
      "answer",
      "the server's answer verified but holds no usable time and signature (" + message + ")",
      "check that the URL names the seal service and the server's version");
}

Finding TimestampFinding(bool verified, const TraceLine *start, const TraceLine &exchange) {
  const std::string key = KeyChecked("document", start);
  if (verified) return Ok("timestamp", "the server's time signature verifies against " + key);
  if (start != nullptr && start->Field("key_sha256") == "none") {
    return Fail("timestamp", "time stamps cannot be checked: no pubkey.key was loaded",
                "install the server's public key text as pubkey.key beside the library");
  }
  std::string also;
  if (exchange.Field("format") == "framed") {
    also = "; its framed answers verify against " + KeyChecked("framed", start);
  }
  return Fail("timestamp",
              "the server signs with a key whose public half is not your pubkey.key: its time "
              "signature does not verify against " +
                  key + also,
              "install the public key text of the server's signing key as pubkey.key (with one "
              "key pair, the same text as the built-in key)");
}

Finding ClockFinding(const std::string &server_time, const std::string &before,
                     const std::string &after) {
  long long server = 0, local_before = 0, local_after = 0;
  if (!ParseTime(server_time, &server)) {
    return Warn("clock", "the server's time \"" + server_time + "\" is not YYYY-MM-DD hh:mm:ss",
                "check the server's clock settings and version");
  }
  if (!ParseTime(before, &local_before) || !ParseTime(after, &local_after)) {
    return Warn("clock", "the local clock could not be read", "check this machine's clock");
  }
  // The server's second lies within the exchange, give or take one.
  long long skew = 0;
  if (server < local_before - 1) skew = server - local_before;
  if (server > local_after + 1) skew = server - local_after;
  const std::string limit = " (limit " + std::to_string(kMaxClockSkewSeconds) + " s)";
  if (std::llabs(skew) <= kMaxClockSkewSeconds) {
    return Ok("clock", "the server's time differs from this machine's by " +
                           std::to_string(std::llabs(skew)) + " s" + limit);
  }
  return Warn("clock",
              "the server's clock is " + std::to_string(std::llabs(skew)) + " s " +
                  (skew > 0 ? "ahead of" : "behind") + " this machine's" + limit,
              "synchronise both clocks (NTP); a difference of whole hours means different time "
              "zones, as both give local time");
}

}  // namespace kel::cli
