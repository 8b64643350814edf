#include "net/body_accumulator.h"

#include <cstring>
#include <utility>

namespace kel {

BodyAccumulator::State BodyAccumulator::Append(const char *data, std::size_t size) {
  received_ += size;
  if (state_ != State::kReading || size == 0) return state_;
  const void *zero = std::memchr(data, '\0', size);
  std::size_t text_size =
      zero ? static_cast<std::size_t>(static_cast<const char *>(zero) - data) : size;
  if (text_size > kMaxAnswerBytes - body_.size()) {
    state_ = State::kTooLong;
    body_.clear();
    body_.shrink_to_fit();
    return state_;
  }
  body_.append(data, text_size);
  if (zero) state_ = State::kComplete;
  return state_;
}

std::string BodyAccumulator::TakeBody() {
  if (state_ == State::kTooLong) return std::string();
  // Appending grows the block by doubling; a large answer would keep up to
  // twice its size for as long as the exchange holds it.
  body_.shrink_to_fit();
  return std::move(body_);
}

}  // namespace kel
