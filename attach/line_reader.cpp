#include "attach/attach_protocol.h"

namespace orv {

bool LineReader::Append(std::string_view bytes) {
  // What was read is let go before the buffer grows.
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
  const std::size_t end = buffer_.rfind('\n');
  // Only the unfinished tail counts against the bound: whole lines wait to be taken.
  const std::size_t tail = end == std::string::npos ? buffer_.size() : buffer_.size() - end - 1;
  if (tail > max_line_) return false;
  std::size_t from = 0;
  for (std::size_t nl; (nl = buffer_.find('\n', from)) != std::string::npos; from = nl + 1) {
    if (nl - from > max_line_) return false;
  }
  return true;
}

bool LineReader::Next(std::string& line) {
  const std::size_t nl = buffer_.find('\n', start_);
  if (nl == std::string::npos) return false;
  line.assign(buffer_, start_, nl - start_);
  start_ = nl + 1;
  return true;
}

}  // namespace orv
