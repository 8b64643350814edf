// Collects an answer body from the reads of a transport, whatever their
// sizes. Both transports feed it, so the body rules are the same everywhere:
//   - the body is a text: it ends at the first zero byte of the answer, and
//     whatever follows that byte, in the same read or later ones, is not part
//     of it;
//   - an answer longer than kMaxAnswerBytes is abandoned and gives no body.
//     Real answers are a few kilobytes; the bound keeps a broken or hostile
//     server from exhausting the host's memory.
#ifndef KEL_NET_BODY_ACCUMULATOR_H_
#define KEL_NET_BODY_ACCUMULATOR_H_

#include <cstddef>
#include <string>

namespace kel {

class BodyAccumulator {
 public:
  static constexpr std::size_t kMaxAnswerBytes = std::size_t{16} << 20;

  enum class State {
    kReading,   // more bytes are welcome
    kComplete,  // a zero byte ended the text; further reads add nothing
    kTooLong,   // the answer passed the bound; the body is abandoned
  };

  // Appends one read's bytes and tells whether the transport should go on
  // reading (kReading) or may stop.
  State Append(const char *data, std::size_t size);

  State state() const { return state_; }

  // Every byte offered to Append, kept or not: what the wire delivered.
  std::size_t received() const { return received_; }

  // The collected text; empty once the answer was too long.
  std::string TakeBody();

 private:
  std::string body_;
  State state_ = State::kReading;
  std::size_t received_ = 0;
};

}  // namespace kel

#endif  // KEL_NET_BODY_ACCUMULATOR_H_
