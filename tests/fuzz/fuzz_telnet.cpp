// Arbitrary bytes from a device server, in arbitrary chunks, through the telnet decoder. Checks
// what must hold whatever a server sends: nothing grows past its bound, the answers are well-formed
// refusals or acceptances of the two options taken, the split of the stream changes nothing, and
// data escaped for the wire reads back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "netport/telnet.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_telnet: %s\n", what);
  std::abort();
}

void Append(orv::TelnetInput& all, orv::TelnetInput&& part) {
  all.data.insert(all.data.end(), part.data.begin(), part.data.end());
  all.answer.insert(all.answer.end(), part.answer.begin(), part.answer.end());
  for (orv::TelnetEvent& event : part.events)
    all.events.push_back(std::move(event));
}

void CheckAnswer(const orv::Bytes& answer) {
  using namespace orv::telnet;
  Check(answer.size() % 3 == 0, "answers come in three bytes");
  for (std::size_t i = 0; i < answer.size(); i += 3) {
    const std::uint8_t verb = answer[i + 1];
    const std::uint8_t option = answer[i + 2];
    Check(answer[i] == kIac && verb >= kWill && verb <= kDont, "an answer is IAC and a verb");
    const bool taken = option == kBinary || option == kComPortOption;
    if (verb == kWill || verb == kDo) Check(taken, "only the two options are accepted");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte sets the chunk length and whether the client asked first.
  const std::size_t chunk = (data[0] & 0x3F) + 1;
  const bool started = (data[0] & 0x40) != 0;
  ++data;
  --size;

  orv::TelnetCodec whole;
  orv::TelnetCodec pieces;
  if (started) {
    (void)whole.Start();
    (void)pieces.Start();
  }
  const orv::TelnetInput at_once = whole.Decode(data, size);
  orv::TelnetInput split;
  for (std::size_t at = 0; at < size; at += chunk) {
    const std::size_t n = size - at < chunk ? size - at : chunk;
    orv::TelnetInput part = pieces.Decode(data + at, n);
    Check(part.data.size() <= n, "no more data than bytes");
    Append(split, std::move(part));
    // An answer is three bytes for three received, though a chunk may end inside the request.
    Check(split.answer.size() <= at + n, "no more answer than bytes");
  }
  Check(split.data == at_once.data, "the split changes the data");
  Check(split.answer == at_once.answer, "the split changes the answers");
  Check(split.events == at_once.events, "the split changes the events");
  CheckAnswer(at_once.answer);
  // Each refusal once per option and way, each accepted option a bounded number of turns.
  Check(at_once.answer.size() <= 3 * (2 * 256 + 4 * orv::telnet::kMaxOptionChanges),
        "answers past their bound");
  for (const orv::TelnetEvent& event : at_once.events) {
    Check(event.payload.size() <= orv::telnet::kMaxSubnegotiation, "a payload past its bound");
  }
  for (const std::uint8_t option : {orv::telnet::kBinary, orv::telnet::kComPortOption}) {
    Check(whole.local_enabled(option) == pieces.local_enabled(option), "local state differs");
    Check(whole.remote_enabled(option) == pieces.remote_enabled(option), "remote state differs");
  }

  // What the program sends reads back unchanged.
  orv::TelnetCodec reader;
  const orv::Bytes input(data, data + size);
  const orv::TelnetInput back = reader.Decode(orv::TelnetEscape(input));
  Check(back.data == input && back.events.empty() && back.answer.empty(),
        "escaped data reads back changed");
  return 0;
}
