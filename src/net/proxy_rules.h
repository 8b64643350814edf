// Which proxy an exchange goes through. On POSIX systems the library follows
// the proxy variables of the environment the way curl reads them; they are
// read once, when the library is loaded, and every exchange decides from
// that copy, so that no exchange reads the environment (another thread of
// the host may be changing it). On Windows WinINet applies the system's
// settings itself; what it was configured with is named here for the trace.
#ifndef KEL_NET_PROXY_RULES_H_
#define KEL_NET_PROXY_RULES_H_

#include <functional>
#include <string>

namespace kel {

// The proxy variables, each as the first set and non-empty one of its names.
struct ProxyVariables {
  // http_proxy. The upper-case HTTP_PROXY is never read: a CGI program finds
  // a request's "Proxy:" header there, so a client could choose the proxy.
  std::string http;
  std::string https;     // https_proxy, else HTTPS_PROXY
  std::string all;       // all_proxy, else ALL_PROXY: for a scheme without its own
  std::string no_proxy;  // no_proxy, else NO_PROXY: the hosts that go direct
};

// Gives the value of the environment variable `name`; false when it is unset
// (an empty value counts as unset).
using EnvironmentLookup = std::function<bool(const char *name, std::string *value)>;

ProxyVariables ReadProxyVariables(const EnvironmentLookup &lookup);

// The variables every exchange decides from: none until start-up sets them.
const ProxyVariables &LoadedProxyVariables();

// Replaces them and returns the previous ones. Start-up calls it once, under
// the loader's serialisation; tests call it between exchanges. Not
// synchronised with exchanges in flight.
ProxyVariables SetProxyVariables(ProxyVariables variables);

// The proxy setting (as the variable gives it) that an exchange with `host`
// goes through; empty when it goes direct. `host` is the URL's host, an IPv6
// literal in its brackets.
std::string ProxyFor(const ProxyVariables &variables, bool secure, const std::string &host);

// True when `host` is one of the hosts in `no_proxy` that go direct, by
// curl's rules: "*" alone names every host; otherwise the list holds names
// and addresses separated by commas or blanks. A name matches the host and
// its subdomains ("example.com" and ".example.com" both match example.com and
// www.example.com), without regard to case or a trailing dot; there are no
// wildcards and no ports. An IPv4 or IPv6 address matches that address, or
// with "/BITS" the network it starts (CIDR); an IPv6 address stands without
// brackets.
bool NoProxyMatches(const std::string &no_proxy, const std::string &host);

// True when the proxy setting names an HTTP proxy (http:// or https://, or no
// scheme), which takes a plain http request's target in absolute form; false
// for a SOCKS proxy, which relays the connection only.
bool IsHttpProxy(const std::string &setting);

// A proxy setting as the trace shows it: "SCHEME://HOST:PORT", the scheme as
// given (http when none), without user name or password, and the port
// libcurl uses when none is given (443 for https, 1080 otherwise).
std::string ProxyTraceName(const std::string &setting);

// What the trace shows when the platform itself chose by rules the library
// does not know (a bypass list, automatic configuration).
constexpr char kSystemProxy[] = "system";

// The proxy WinINet was configured with, as the trace shows it, from its
// proxy list ("HOST:PORT" for every scheme, or entries such as
// "http=HOST:PORT https=HOST:PORT") and bypass list: the entry for the
// request's scheme, else the one for every scheme, as "http://HOST:PORT"
// (port 80 when none is given). kSystemProxy when there is a bypass list or
// no such entry.
std::string WinInetProxyTraceName(const std::string &proxy_list, const std::string &bypass_list,
                                  bool secure);

}  // namespace kel

#endif  // KEL_NET_PROXY_RULES_H_
