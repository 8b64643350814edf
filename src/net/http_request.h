// One exchange with the seal server: the parameters of a transaction are
// posted form-encoded to the URL the host gave, and the whole answer body
// comes back as text.
//
// The request reports no errors and ignores the HTTP status: any failure on
// the way leaves the body empty, and the caller decides what that means. The
// body of an error page is returned like any other body.
#ifndef KEL_NET_HTTP_REQUEST_H_
#define KEL_NET_HTTP_REQUEST_H_

#include <string>
#include <vector>

#include "api/secure_wipe.h"
#include "net/http_transport.h"

namespace kel {

// A name/value pair of a request's parameter list, in the host's code page.
// The request holds its parameters by value. A value may be the response
// key, so values are secret texts.
struct RequestParam {
  std::string name;
  SecretText value;
};

// What the request made of its URL beyond splitting it: the parts it
// supplied, dropped or read differently from what the URL says. For the
// trace only; one bit each.
enum UrlMend : unsigned {
  kMendDefaultPort = 1u << 0,       // no port in the URL: 80, or 443 for https
  kMendUserDropped = 1u << 1,       // user information before '@' is not sent
  kMendFragmentDropped = 1u << 2,   // a fragment ('#...') is never sent
  kMendRootPath = 1u << 3,          // no '/' after the host: "/" is requested
  kMendSchemeTakenAsHttp = 1u << 4  // a scheme other than http and https
};

class HttpRequest {
 public:
  // Splits `url` (null reads as empty) into host, port and object name. It
  // cannot fail: a URL without a host name leaves the host empty, and Send
  // then fails. The port is the URL's, else 443 for https and 80 otherwise;
  // a port text that is not a number from 1 to 65535 gives port 0, and Send
  // then fails without sending. A fragment is never part of the target.
  // `post` selects POST; false gives GET with the query in the target.
  HttpRequest(const char *url, bool post);
  virtual ~HttpRequest();

  HttpRequest(const HttpRequest &) = delete;
  HttpRequest &operator=(const HttpRequest &) = delete;

  // Appends `param`. Parameters go on the wire in the order appended.
  void AddParam(RequestParam param);

  // The parameters as name=value pairs joined by '&', each name and value
  // escaped with UrlEscape. Empty for no parameters. It carries the
  // response key, so it is a secret text.
  SecretText BuildQuery() const;

  // Performs the exchange once and returns the answer body: empty when the
  // exchange failed, timed out or the answer was too long; what arrived when
  // the connection broke part way through the answer. Called once: the
  // request is never sent again.
  std::string Send();

  // What Send saw besides the body (its body is always empty): how the
  // exchange ended, the status code, byte counts and, for a failure, the
  // transport's own words. For the trace only.
  const TransportResult &result() const { return result_; }

  const std::string &url() const { return url_; }
  const std::string &host() const { return host_; }
  int port() const { return port_; }
  // The URL's port text as written; empty when the URL names no port.
  const std::string &port_text() const { return port_text_; }
  const std::string &object_name() const { return object_name_; }
  bool secure() const { return secure_; }
  const std::vector<RequestParam> &params() const { return params_; }
  // The UrlMend bits that apply to the URL.
  unsigned mends() const { return mends_; }

 private:
  std::vector<RequestParam> params_;
  std::string host_;
  std::string object_name_;  // the request target, without its leading '/'
  int port_ = 80;
  std::string url_;
  bool post_;
  bool secure_ = false;
  std::string port_text_;
  unsigned mends_ = 0;
  TransportResult result_;
};

}  // namespace kel

#endif  // KEL_NET_HTTP_REQUEST_H_
