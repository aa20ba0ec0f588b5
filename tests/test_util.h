#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace orv::test {

// "02 01 06 00 2B 03" -> bytes.
inline Bytes Hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string token;
  while (in >> token)
    out.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Runs `undo` as the scope ends, whatever happened in it:
// `const AtScopeEnd end(nullptr, [&](void*) { undo(); });`
using AtScopeEnd = std::shared_ptr<void>;

}  // namespace orv::test
