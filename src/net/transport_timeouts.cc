// The time limits that both transports apply, held once for the process.
#include <atomic>

#include "net/http_transport.h"

namespace kel {
namespace {

std::atomic<long> connect_ms{kDefaultTransportTimeouts.connect_ms};
std::atomic<long> stall_seconds{kDefaultTransportTimeouts.stall_seconds};
std::atomic<long> total_ms{kDefaultTransportTimeouts.total_ms};

}  // namespace

TransportTimeouts CurrentTransportTimeouts() {
  return {connect_ms.load(), stall_seconds.load(), total_ms.load()};
}

TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts) {
  return {connect_ms.exchange(timeouts.connect_ms), stall_seconds.exchange(timeouts.stall_seconds),
          total_ms.exchange(timeouts.total_ms)};
}

TransportTimeouts ScaleTransportTimeoutsForTesting(long divisor) {
  // The stall limit counts whole seconds: it is rounded up, never to 0.
  TransportTimeouts scaled = kDefaultTransportTimeouts;
  scaled.connect_ms /= divisor;
  scaled.total_ms /= divisor;
  scaled.stall_seconds = (scaled.stall_seconds + divisor - 1) / divisor;
  return SetTransportTimeoutsForTesting(scaled);
}

}  // namespace kel
