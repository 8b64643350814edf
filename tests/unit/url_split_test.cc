// How a request reads the URL it is given: host, port, request target and
// whether the exchange goes over TLS.
#include <gtest/gtest.h>

#include <string>

#include "net/http_request.h"

namespace kel {
namespace {

struct SplitCase {
  const char *url;
  const char *host;
  int port;
  const char *object_name;
  bool secure;
};

class UrlSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(UrlSplitTest, SplitsHostPortAndObjectName) {
  const SplitCase &c = GetParam();
  HttpRequest request(c.url, true);
  EXPECT_EQ(request.host(), c.host);
  EXPECT_EQ(request.port(), c.port);
  EXPECT_EQ(request.object_name(), c.object_name);
  EXPECT_EQ(request.secure(), c.secure);
  EXPECT_EQ(request.url(), c.url);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, UrlSplitTest,
    ::testing::Values(SplitCase{"http://seal.example/api/verify", "seal.example", 80, "api/verify",
                                false},
                      // A one-letter host that also occurs in the scheme: the target is
                      // searched behind "://", not inside "http".
                      SplitCase{"http://h:8080/x", "h", 8080, "x", false},
                      SplitCase{"http://t/x", "t", 80, "x", false},
                      // The query string stays in the target; a fragment is never sent.
                      SplitCase{"http://host/seal/check.asp?a=1&b=2#end", "host", 80,
                                "seal/check.asp?a=1&b=2", false},
                      SplitCase{"http://host/x?a=#b/c", "host", 80, "x?a=", false},
                      // No path behind the host: the root, or the query that follows.
                      SplitCase{"http://host:8080", "host", 8080, "", false},
                      SplitCase{"http://host?x=1/y", "host", 80, "?x=1/y", false},
                      SplitCase{"http://host#x/y", "host", 80, "", false},
                      SplitCase{"http://host/", "host", 80, "", false},
                      SplitCase{"http://user:pw@host:81/x", "host", 81, "x", false},
                      SplitCase{"ftp://host:21/x", "host", 21, "x", false},
                      // A port is 1 to 65535 in decimal digits; any other text gives 0,
                      // which no request is sent to.
                      SplitCase{"http://host:/x", "host", 80, "x", false},
                      SplitCase{"http://host:65535/x", "host", 65535, "x", false},
                      SplitCase{"http://host:00080/x", "host", 80, "x", false},
                      SplitCase{"http://host:abc/x", "host", 0, "x", false},
                      SplitCase{"http://host:80abc/x", "host", 0, "x", false},
                      SplitCase{"http://host:-1/x", "host", 0, "x", false},
                      SplitCase{"http://host:+80/x", "host", 0, "x", false},
                      SplitCase{"http://host:0/x", "host", 0, "x", false},
                      SplitCase{"http://host:65536/x", "host", 0, "x", false},
                      SplitCase{"http://host:83626/x", "host", 0, "x", false},
                      SplitCase{"http://host:99999999999/x", "host", 0, "x", false},
                      SplitCase{"http://[::1]:8080/x", "[::1]", 8080, "x", false},
                      // https goes over TLS, to port 443 unless the URL names another.
                      SplitCase{"https://h/x", "h", 443, "x", true},
                      SplitCase{"HTTPS://host:8443/x", "host", 8443, "x", true},
                      // Without "scheme://" there is no host; the target search starts at
                      // the first byte.
                      SplitCase{"host:8080/x", "", 80, "x", false},
                      SplitCase{"//host/x", "", 80, "/host/x", false},
                      SplitCase{"no-slash", "", 80, "no-slash", false},
                      // Bytes that are letters only in some locales make no scheme.
                      SplitCase{"\xE9ttp://host/x", "", 80, "/host/x", false},
                      SplitCase{"", "", 80, "", false}));

TEST(UrlSplitTest, HostNamesOf260BytesOrMoreYieldNoHost) {
  std::string fits(259, 'a');
  std::string too_long(260, 'a');
  EXPECT_EQ(HttpRequest(("http://" + fits + "/x").c_str(), true).host(), fits);
  HttpRequest request(("http://" + too_long + "/x").c_str(), true);
  EXPECT_EQ(request.host(), "");
  EXPECT_EQ(request.object_name(), "x");
}

TEST(UrlSplitTest, NullUrlReadsAsEmpty) {
  HttpRequest request(nullptr, true);
  EXPECT_EQ(request.url(), "");
  EXPECT_EQ(request.host(), "");
  EXPECT_EQ(request.port(), 80);
  EXPECT_EQ(request.Send(), "");
}

}  // namespace
}  // namespace kel
