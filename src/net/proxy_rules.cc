#include "net/proxy_rules.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "api/call_gate.h"

namespace kel {
namespace {

// ASCII only: the host's locale must not decide which hosts go direct.
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = AsciiLower(c);
  return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

bool EqualsIgnoringCase(const char *a, const char *b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// An address as bytes, most significant first: 4 for IPv4, 16 for IPv6.
using Address = std::array<std::uint8_t, 16>;

// Dotted-quad IPv4: four decimal parts of 0 to 255, without leading zeros
// (as inet_pton reads them).
bool ParseIpv4(const std::string &text, Address *address) {
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    std::size_t start = at;
    int value = 0;
    while (at < text.size() && IsDigit(text[at]) && at - start < 3) {
      value = value * 10 + (text[at++] - '0');
    }
    if (at == start || value > 255 || (text[start] == '0' && at - start > 1)) return false;
    (*address)[part] = static_cast<std::uint8_t>(value);
  }
  return at == text.size();
}

// IPv6 in its text forms: eight groups of up to four hex digits, one "::"
// for a run of zero groups, and a dotted-quad IPv4 address as the last two
// groups.
bool ParseIpv6(const std::string &text, Address *address) {
  address->fill(0);
  std::uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // the group index where "::" stands
  std::size_t at = 0;
  if (text.compare(0, 2, "::") == 0) {
    gap = 0;
    at = 2;
  }
  while (at < text.size()) {
    std::size_t start = at;
    unsigned value = 0;
    while (at < text.size() && HexValue(text[at]) >= 0 && at - start < 4) {
      value = value * 16 + static_cast<unsigned>(HexValue(text[at++]));
    }
    if (at < text.size() && text[at] == '.') {
      Address ipv4{};
      if (count > 6 || !ParseIpv4(text.substr(start), &ipv4)) return false;
      groups[count++] = static_cast<std::uint16_t>(ipv4[0] << 8 | ipv4[1]);
      groups[count++] = static_cast<std::uint16_t>(ipv4[2] << 8 | ipv4[3]);
      at = text.size();
      break;
    }
    if (at == start || count == 8) return false;
    groups[count++] = static_cast<std::uint16_t>(value);
    if (at == text.size()) break;
    if (text[at] != ':') return false;
    ++at;
    if (at < text.size() && text[at] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++at;
    } else if (at == text.size()) {
      return false;  // a single trailing ':'
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  int zeros = 8 - count;
  int out = 0;
  for (int i = 0; i < count; ++i) {
    if (i == gap) out += zeros;
    (*address)[2 * out] = static_cast<std::uint8_t>(groups[i] >> 8);
    (*address)[2 * out + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
    ++out;
  }
  // "::" at the end: the zero groups follow the last group.
  return true;
}

enum class HostKind { kName, kIpv4, kIpv6 };

// True when the first `bits` bits of the two addresses agree; 0 bits (no
// "/BITS", or one that is not a number) means the whole address.
bool SameNetwork(const Address &a, const Address &b, unsigned bits, unsigned width) {
  if (bits == 0) bits = width;
  if (bits > width) return false;
  unsigned whole = bits / 8;
  for (unsigned i = 0; i < whole; ++i) {
    if (a[i] != b[i]) return false;
  }
  unsigned rest = bits % 8;
  if (rest == 0) return true;
  std::uint8_t mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
  return ((a[whole] ^ b[whole]) & mask) == 0;
}

// Whether one entry of the list names the host.
bool EntryMatches(std::string entry, HostKind kind, const std::string &name,
                  const Address &address) {
  if (kind == HostKind::kName) {
    if (!entry.empty() && entry.back() == '.') entry.pop_back();
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.size() > name.size()) return false;
    if (entry.size() == name.size())
      return EqualsIgnoringCase(entry.data(), name.data(), name.size());
    // A domain matches the names below it, never a longer name that merely
    // ends the same way ("example.com" is not "notexample.com").
    std::size_t tail = name.size() - entry.size();
    return name[tail - 1] == '.' &&
           EqualsIgnoringCase(entry.data(), name.data() + tail, entry.size());
  }
  unsigned bits = 0;
  std::size_t slash = entry.find('/');
  if (slash != std::string::npos) {
    bits = static_cast<unsigned>(std::strtoul(entry.c_str() + slash + 1, nullptr, 10));
    entry.erase(slash);
  }
  Address network{};
  if (kind == HostKind::kIpv4) {
    return ParseIpv4(entry, &network) && SameNetwork(address, network, bits, 32);
  }
  return ParseIpv6(entry, &network) && SameNetwork(address, network, bits, 128);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The parts of a proxy setting "[SCHEME://][USER[:PASSWORD]@]HOST[:PORT][/...]".
struct ProxyParts {
  std::string scheme;  // as given; empty when none
  std::string host;    // an IPv6 literal keeps its brackets
  std::string port;    // empty when none
};

ProxyParts SplitProxy(const std::string &setting) {
  ProxyParts parts;
  std::size_t start = 0;
  std::size_t separator = setting.find("://");
  if (separator != std::string::npos) {
    parts.scheme = setting.substr(0, separator);
    start = separator + 3;
  }
  // Everything up to the last '@' is user information: none of it is ever
  // shown, even when a password holds a '/' or another '@'.
  std::size_t at = setting.rfind('@');
  if (at != std::string::npos && at >= start) start = at + 1;
  std::size_t end = setting.find_first_of("/?#", start);
  if (end == std::string::npos) end = setting.size();
  std::size_t host_end;
  if (start < end && setting[start] == '[') {
    std::size_t bracket = setting.find(']', start);
    host_end = (bracket == std::string::npos || bracket >= end) ? end : bracket + 1;
  } else {
    host_end = setting.find(':', start);
    if (host_end == std::string::npos || host_end > end) host_end = end;
  }
  parts.host = setting.substr(start, host_end - start);
  if (host_end < end && setting[host_end] == ':') {
    parts.port = setting.substr(host_end + 1, end - host_end - 1);
  }
  return parts;
}

std::string Lowered(std::string text) {
  for (char &c : text) c = AsciiLower(c);
  return text;
}

}  // namespace

ProxyVariables ReadProxyVariables(const EnvironmentLookup &lookup) {
  // The first of `names` that is set and not empty.
  auto first = [&lookup](std::initializer_list<const char *> names) {
    std::string value;
    for (const char *name : names) {
      if (lookup(name, &value) && !value.empty()) return value;
      value.clear();
    }
    return value;
  };
  ProxyVariables variables;
  variables.http = first({"http_proxy"});
  variables.https = first({"https_proxy", "HTTPS_PROXY"});
  variables.all = first({"all_proxy", "ALL_PROXY"});
  variables.no_proxy = first({"no_proxy", "NO_PROXY"});
  return variables;
}

namespace {

// A function-local static: start-up may run before the objects of this
// file are constructed. Destroyed when the library is unloaded, like the
// server key and the trace's path, so that unloading leaks nothing.
ProxyVariables &StoredProxyVariables() {
  static ModuleStatic<ProxyVariables> variables;
  return variables.get();
}

}  // namespace

const ProxyVariables &LoadedProxyVariables() { return StoredProxyVariables(); }

ProxyVariables SetProxyVariables(ProxyVariables variables) {
  std::swap(StoredProxyVariables(), variables);
  return variables;
}

std::string ProxyFor(const ProxyVariables &variables, bool secure, const std::string &host) {
  if (NoProxyMatches(variables.no_proxy, host)) return std::string();
  const std::string &own = secure ? variables.https : variables.http;
  return own.empty() ? variables.all : own;
}

bool NoProxyMatches(const std::string &no_proxy, const std::string &host) {
  if (host.empty() || no_proxy.empty()) return false;
  if (no_proxy == "*") return true;

  HostKind kind = HostKind::kName;
  std::string name = host;
  Address address{};
  if (name.front() == '[') {
    std::size_t bracket = name.find(']');
    if (bracket == std::string::npos || !ParseIpv6(name.substr(1, bracket - 1), &address)) {
      return false;
    }
    kind = HostKind::kIpv6;
  } else if (ParseIpv4(name, &address)) {
    kind = HostKind::kIpv4;
  } else if (name.back() == '.') {
    name.pop_back();
  }

  std::size_t at = 0;
  while (at < no_proxy.size()) {
    while (at < no_proxy.size() && (IsBlank(no_proxy[at]) || no_proxy[at] == ',')) ++at;
    std::size_t start = at;
    while (at < no_proxy.size() && !IsBlank(no_proxy[at]) && no_proxy[at] != ',') ++at;
    if (at > start && EntryMatches(no_proxy.substr(start, at - start), kind, name, address)) {
      return true;
    }
  }
  return false;
}

bool IsHttpProxy(const std::string &setting) {
  std::string scheme = Lowered(SplitProxy(setting).scheme);
  return scheme.empty() || scheme == "http" || scheme == "https";
}

std::string ProxyTraceName(const std::string &setting) {
  ProxyParts parts = SplitProxy(setting);
  if (parts.scheme.empty()) parts.scheme = "http";
  if (parts.port.empty()) parts.port = Lowered(parts.scheme) == "https" ? "443" : "1080";
  return parts.scheme + "://" + parts.host + ":" + parts.port;
}

std::string WinInetProxyTraceName(const std::string &proxy_list, const std::string &bypass_list,
                                  bool secure) {
  // Bypassed hosts go direct by WinINet's own matching.
  for (char c : bypass_list) {
    if (!IsBlank(c) && c != ';' && c != ',') return kSystemProxy;
  }
  const std::string wanted = secure ? "https=" : "http=";
  std::string chosen;
  bool for_every_scheme = false;
  std::size_t at = 0;
  while (at < proxy_list.size()) {
    while (at < proxy_list.size() && (IsBlank(proxy_list[at]) || proxy_list[at] == ';')) ++at;
    std::size_t start = at;
    while (at < proxy_list.size() && !IsBlank(proxy_list[at]) && proxy_list[at] != ';') ++at;
    std::string entry = proxy_list.substr(start, at - start);
    std::size_t equals = entry.find('=');
    if (entry.empty()) continue;
    if (equals == std::string::npos) {
      if (chosen.empty()) {
        chosen = entry;
        for_every_scheme = true;
      }
    } else if (Lowered(entry.substr(0, equals + 1)) == wanted) {
      if (chosen.empty() || for_every_scheme) chosen = entry.substr(equals + 1);
      for_every_scheme = false;
    }
  }
  if (chosen.empty()) return kSystemProxy;
  ProxyParts parts = SplitProxy(chosen);
  if (parts.port.empty()) parts.port = "80";
  return "http://" + parts.host + ":" + parts.port;
}

}  // namespace kel
