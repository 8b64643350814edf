// The answer-dropping proxy as a program, for test hosts that cannot run it
// in-process (the Windows test programs under Wine):
//   kel-answer-dropping-proxy --upstream-port PORT [--drop-answer N]
// (N = 0 drops no answer). Prints "listening on URL" once it listens and runs
// until it is killed.
// Other options are passed over, so scripts can start it as they start the
// reference server.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/answer_dropping_proxy.h"

int main(int argc, char **argv) {
  int upstream = 0;
  int drop = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--upstream-port") == 0) upstream = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--drop-answer") == 0) drop = std::atoi(argv[i + 1]);
  }
  if (upstream <= 0 || upstream > 65535 || drop < 0) {
    std::fprintf(stderr, "usage: %s --upstream-port PORT [--drop-answer N]\n", argv[0]);
    return 2;
  }
  kel::test::AnswerDroppingProxy proxy(upstream, drop);
  if (!proxy.Start()) {
    std::perror("cannot listen");
    return 1;
  }
  std::printf("listening on %s\n", proxy.url().c_str());
  std::fflush(stdout);
  for (;;) pause();
}
