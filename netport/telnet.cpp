#include "netport/telnet.h"

namespace orv {

using telnet::kBinary;
using telnet::kComPortOption;
using telnet::kDo;
using telnet::kDont;
using telnet::kIac;
using telnet::kMaxOptionChanges;
using telnet::kMaxSubnegotiation;
using telnet::kSb;
using telnet::kSe;
using telnet::kSetBaudRate;
using telnet::kSetControl;
using telnet::kSetDataSize;
using telnet::kSetParity;
using telnet::kSetStopSize;
using telnet::kWill;
using telnet::kWont;

Bytes TelnetCodec::Start() {
  Bytes out;
  auto ask = [&out](std::uint8_t verb, std::uint8_t option, bool done, bool& asked) {
    if (done || asked) return;
    asked = true;
    for (const std::uint8_t b : {kIac, verb, option})
      out.push_back(b);
  };
  ask(kWill, kComPortOption, com_port_.local, com_port_.local_asked);
  ask(kWill, kBinary, binary_.local, binary_.local_asked);
  ask(kDo, kBinary, binary_.remote, binary_.remote_asked);
  return out;
}

bool TelnetCodec::Accepted(std::uint8_t option) {
  return option == kBinary || option == kComPortOption;
}

TelnetCodec::OptionState* TelnetCodec::Find(std::uint8_t option) {
  if (option == kBinary) return &binary_;
  if (option == kComPortOption) return &com_port_;
  return nullptr;
}

const TelnetCodec::OptionState* TelnetCodec::Find(std::uint8_t option) const {
  return const_cast<TelnetCodec*>(this)->Find(option);
}

bool TelnetCodec::local_enabled(std::uint8_t option) const {
  const OptionState* state = Find(option);
  return state != nullptr && state->local;
}

bool TelnetCodec::remote_enabled(std::uint8_t option) const {
  const OptionState* state = Find(option);
  return state != nullptr && state->remote;
}

void TelnetCodec::OnNegotiation(std::uint8_t verb, std::uint8_t option, TelnetInput& out) {
  auto answer = [&out, option](std::uint8_t reply) {
    out.answer.insert(out.answer.end(), {kIac, reply, option});
  };
  OptionState* state = Accepted(option) ? Find(option) : nullptr;
  const bool for_us = verb == kDo || verb == kDont;  // about what we do, else about the server
  const bool on = verb == kDo || verb == kWill;
  if (state == nullptr) {
    // Refused: a request to turn it on gets a no, once; a request to turn it off asks for what
    // is so.
    if (!on) return;
    std::bitset<256>& said = for_us ? refused_local_ : refused_remote_;
    if (said.test(option)) {
      ++ignored_requests_;
      return;
    }
    said.set(option);
    answer(for_us ? kWont : kDont);
    return;
  }
  bool& enabled = for_us ? state->local : state->remote;
  bool& asked = for_us ? state->local_asked : state->remote_asked;
  int& changes = for_us ? state->local_changes : state->remote_changes;
  const TelnetEvent::Kind kind =
      for_us ? TelnetEvent::Kind::kLocalOption : TelnetEvent::Kind::kRemoteOption;
  if (enabled != on && changes >= kMaxOptionChanges) {
    ++ignored_requests_;
    return;
  }
  if (enabled == on) {
    // A repeat gets no reply; a no to our own request is news.
    const bool refused = asked && !on;
    asked = false;
    if (refused) out.events.push_back(TelnetEvent{kind, option, false, {}});
    return;
  }
  enabled = on;
  ++changes;
  // The answer to our own request is not answered again; a request of the server's is.
  if (!asked) answer(for_us ? (on ? kWill : kWont) : (on ? kDo : kDont));
  asked = false;
  out.events.push_back(TelnetEvent{kind, option, on, {}});
}

void TelnetCodec::EndSubnegotiation(TelnetInput& out) {
  if (sb_overlong_) {
    out.events.push_back(
        TelnetEvent{TelnetEvent::Kind::kSubnegotiationTooLong, sb_option_, false, {}});
  } else {
    out.events.push_back(
        TelnetEvent{TelnetEvent::Kind::kSubnegotiation, sb_option_, false, std::move(sb_payload_)});
  }
  sb_payload_.clear();
  sb_overlong_ = false;
}

TelnetInput TelnetCodec::Decode(const std::uint8_t* bytes, std::size_t size) {
  TelnetInput out;
  out.data.reserve(size);
  std::size_t escaped = 0;  // the second IAC of each doubled one
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t b = bytes[i];
    bool consumed = true;
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          out.data.push_back(b);
        }
        break;
      case State::kIac:
        if (b == kIac) {
          out.data.push_back(kIac);
          ++escaped;
          state_ = State::kData;
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::kOption;
        } else if (b == kSb) {
          state_ = State::kSbOption;
        } else {
          state_ = State::kData;  // NOP, GA, a stray SE and the like carry nothing for a port
        }
        break;
      case State::kOption:
        OnNegotiation(verb_, b, out);
        state_ = State::kData;
        break;
      case State::kSbOption:
        sb_option_ = b;
        sb_payload_.clear();
        sb_overlong_ = false;
        state_ = State::kSb;
        break;
      case State::kSb:
        if (b == kIac) {
          state_ = State::kSbIac;
        } else if (sb_payload_.size() < kMaxSubnegotiation) {
          sb_payload_.push_back(b);
        } else {
          sb_overlong_ = true;
        }
        break;
      case State::kSbIac:
        if (b == kIac) {
          if (sb_payload_.size() < kMaxSubnegotiation) {
            sb_payload_.push_back(kIac);
          } else {
            sb_overlong_ = true;
          }
          state_ = State::kSb;
        } else if (b == kSe) {
          EndSubnegotiation(out);
          state_ = State::kData;
        } else {
          // A command inside a subnegotiation ends it unfinished: it is dropped, and the command
          // is read as one.
          sb_payload_.clear();
          sb_overlong_ = false;
          state_ = State::kIac;
          consumed = false;
        }
        break;
    }
    if (consumed) ++i;
  }
  // An IAC that ends one read and is doubled by the next counts once too often: never below 0.
  const std::size_t data_on_wire = out.data.size() + escaped;
  out.negotiation_bytes = size > data_on_wire ? size - data_on_wire : 0;
  return out;
}

Bytes TelnetEscape(const Bytes& data) {
  Bytes out;
  out.reserve(data.size());
  for (const std::uint8_t b : data) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
  return out;
}

Bytes TelnetSubnegotiation(std::uint8_t option, const Bytes& payload) {
  Bytes out{kIac, kSb, option};
  const Bytes escaped = TelnetEscape(payload);
  out.insert(out.end(), escaped.begin(), escaped.end());
  out.insert(out.end(), {kIac, kSe});
  return out;
}

Bytes ComPortSettingsCommands(const LineSettings& settings) {
  const auto baud = static_cast<std::uint32_t>(settings.baud_rate);
  std::uint8_t parity = 1;
  switch (settings.parity) {
    case Parity::kNone:
      parity = 1;
      break;
    case Parity::kOdd:
      parity = 2;
      break;
    case Parity::kEven:
      parity = 3;
      break;
    case Parity::kMark:
      parity = 4;
      break;
    case Parity::kSpace:
      parity = 5;
      break;
  }
  std::uint8_t stop_size = 1;
  switch (settings.stop_bits) {
    case StopBits::kOne:
      stop_size = 1;
      break;
    case StopBits::kTwo:
      stop_size = 2;
      break;
    case StopBits::kOneAndHalf:
      stop_size = 3;
      break;
  }
  constexpr std::uint8_t kNoFlowControl = 1;
  Bytes out;
  for (const Bytes& command :
       {Bytes{kSetBaudRate, static_cast<std::uint8_t>(baud >> 24),
              static_cast<std::uint8_t>(baud >> 16), static_cast<std::uint8_t>(baud >> 8),
              static_cast<std::uint8_t>(baud)},
        Bytes{kSetDataSize, static_cast<std::uint8_t>(settings.data_bits)},
        Bytes{kSetParity, parity}, Bytes{kSetStopSize, stop_size},
        Bytes{kSetControl, kNoFlowControl}}) {
    const Bytes sb = TelnetSubnegotiation(kComPortOption, command);
    out.insert(out.end(), sb.begin(), sb.end());
  }
  return out;
}

}  // namespace orv
