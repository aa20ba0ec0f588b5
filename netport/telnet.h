#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/line_settings.h"

namespace orv {

using Bytes = std::vector<std::uint8_t>;

// Telnet as a serial device server speaks it (RFC 854 framing, RFC 2217 COM-PORT-OPTION), as a
// pure codec: bytes in, data bytes, answers and events out. It does no I/O: the caller sends
// what it is handed. A device server on the network is as untrusted as the serial line, so any
// byte sequence is taken, in any split across reads, in bounded memory.
namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the code plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kServerOffset = 100;

// A subnegotiation longer than this is dropped whole: COM-PORT-OPTION's longest is a handful
// of bytes, and a server that never ends one must not make the buffer grow.
inline constexpr std::size_t kMaxSubnegotiation = 64;

// How often an accepted option may change state, each way, in one connection. The agreement
// takes one change; a server that turns an option on and off again and again (each turn asks for
// an answer, and COM-PORT-OPTION for the line settings again) is not followed further.
inline constexpr int kMaxOptionChanges = 8;

}  // namespace telnet

struct TelnetEvent {
  enum class Kind {
    kLocalOption,   // we now do (or no longer do) the option: the server said DO / DONT
    kRemoteOption,  // the server now does (or no longer does) the option: WILL / WONT
    kSubnegotiation,
    kSubnegotiationTooLong,  // dropped unread
  };
  Kind kind = Kind::kSubnegotiation;
  std::uint8_t option = 0;
  bool enabled = false;  // for the option kinds
  Bytes payload;         // for a subnegotiation: the bytes after the option, IAC IAC made one

  bool operator==(const TelnetEvent&) const = default;
};

// What one batch of received bytes held.
struct TelnetInput {
  Bytes data;    // the serial line's bytes
  Bytes answer;  // to be sent back to the server as it is
  std::vector<TelnetEvent> events;
  // Of the bytes taken, those that were telnet's own (commands, options, subnegotiations); a
  // doubled IAC is data.
  std::size_t negotiation_bytes = 0;
};

// One telnet connection's state: the receive parser and the negotiation of the two options it
// accepts, COM-PORT-OPTION and BINARY, both ways. Every other option is refused, and each refusal
// is said once per option and way for the whole connection. An accepted option is answered only
// when its state changes, at most kMaxOptionChanges times. So whatever a server sends, the
// answers of a connection never exceed a few kilobytes, and two sides can never bounce a request
// for ever.
class TelnetCodec {
 public:
  // What the client says first: it will do COM-PORT-OPTION, and binary both ways (so that CR
  // and NUL pass as they are).
  Bytes Start();
  // Takes received bytes; partial sequences wait for the next call.
  TelnetInput Decode(const std::uint8_t* bytes, std::size_t size);
  TelnetInput Decode(const Bytes& bytes) { return Decode(bytes.data(), bytes.size()); }

  bool local_enabled(std::uint8_t option) const;
  bool remote_enabled(std::uint8_t option) const;
  // Requests not followed (an accepted option past kMaxOptionChanges) or not answered again (a
  // refused option already refused), since the start.
  std::size_t ignored_requests() const { return ignored_requests_; }

 private:
  enum class State { kData, kIac, kOption, kSb, kSbOption, kSbIac };
  struct OptionState {
    bool local = false;         // we do it
    bool local_asked = false;   // we sent WILL and wait for the answer
    bool remote = false;        // the server does it
    bool remote_asked = false;  // we sent DO and wait for the answer
    int local_changes = 0;
    int remote_changes = 0;
  };
  static bool Accepted(std::uint8_t option);
  OptionState* Find(std::uint8_t option);
  const OptionState* Find(std::uint8_t option) const;
  void OnNegotiation(std::uint8_t verb, std::uint8_t option, TelnetInput& out);
  void EndSubnegotiation(TelnetInput& out);

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::uint8_t sb_option_ = 0;
  bool sb_overlong_ = false;
  Bytes sb_payload_;
  std::size_t ignored_requests_ = 0;
  // Refused options already answered: DO (we won't) and WILL (do not), by option.
  std::bitset<256> refused_local_;
  std::bitset<256> refused_remote_;
  OptionState binary_;
  OptionState com_port_;
};

// Data bytes as they go on the wire: every IAC (0xFF) doubled.
Bytes TelnetEscape(const Bytes& data);

// IAC SB option payload IAC SE, with every IAC in the payload doubled.
Bytes TelnetSubnegotiation(std::uint8_t option, const Bytes& payload);

// The COM-PORT-OPTION commands that set a line: baud rate, data size, parity, stop size and no
// flow control, in that order.
Bytes ComPortSettingsCommands(const LineSettings& settings);

}  // namespace orv
