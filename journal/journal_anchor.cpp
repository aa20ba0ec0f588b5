#include "journal/journal_anchor.h"

#include <system_error>

#include "journal/journal.h"

namespace orv {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AddField(std::string& datagram, std::string_view key, std::string_view value) {
  datagram.append(key);
  if (value.find('\n') == std::string_view::npos) {
    datagram += '=';
    datagram.append(value);
  } else {
    // The binary form: the key, a line feed, the value's length as 64 bits little-endian.
    datagram += '\n';
    for (int i = 0; i < 8; ++i)
      datagram += static_cast<char>(static_cast<std::uint64_t>(value.size()) >> (8 * i));
    datagram.append(value);
  }
  datagram += '\n';
}

}  // namespace

std::string FormatJournalAnchor(const JournalAnchor& anchor) {
  std::string text = std::to_string(anchor.sequence) + ':';
  for (const char c : anchor.chain) {
    text += kHexDigits[(static_cast<unsigned char>(c) >> 4) & 0xf];
    text += kHexDigits[static_cast<unsigned char>(c) & 0xf];
  }
  return text;
}

bool ParseJournalAnchor(std::string_view text, JournalAnchor& anchor) {
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos || colon > 18) return false;
  if (text.size() - colon - 1 != 64) return false;
  std::int64_t sequence = 0;
  for (std::size_t i = 0; i < colon; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    sequence = sequence * 10 + (text[i] - '0');
  }
  if (sequence <= 0) return false;
  std::string chain;
  for (std::size_t i = colon + 1; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    chain += static_cast<char>(high * 16 + low);
  }
  anchor = {sequence, chain};
  return true;
}

std::string JournalAnchorProblem(const JournalCheck& check, const JournalAnchor& anchor) {
  const std::string anchored = std::to_string(anchor.sequence);
  if (check.last_sequence < anchor.sequence) {
    return "the journal ends at " + std::to_string(check.last_sequence) + " but was anchored at " +
           anchored + ": records were deleted from its end, or the file was replaced";
  }
  if (check.first_sequence > anchor.sequence) {
    return "the journal begins at " + std::to_string(check.first_sequence) + ", after record " +
           anchored + " that was anchored: the file was replaced";
  }
  if (check.anchored_chain != anchor.chain) {
    return "the chain value at " + anchored +
           " differs from the anchor: the file was replaced or its chain recomputed";
  }
  return {};
}

std::string JournalAnchorDatagram(const std::string& name, const JournalAnchor& anchor) {
  const std::string head = FormatJournalAnchor(anchor);
  const std::string chain = head.substr(head.find(':') + 1);
  const std::string sequence = std::to_string(anchor.sequence);
  std::string datagram;
  AddField(datagram, "MESSAGE", "orvandel journal head " + sequence + ' ' + chain);
  AddField(datagram, "MESSAGE_ID", kJournalAnchorMessageId);
  AddField(datagram, "PRIORITY", "6");
  AddField(datagram, "SYSLOG_IDENTIFIER", "orvandel");
  AddField(datagram, "ORVANDEL_JOURNAL_FILE", name);
  AddField(datagram, "ORVANDEL_JOURNAL_SEQUENCE", sequence);
  AddField(datagram, "ORVANDEL_JOURNAL_CHAIN", chain);
  return datagram;
}

std::string JournalAnchorName(const std::filesystem::path& file) {
  std::error_code error;
  std::filesystem::path name = std::filesystem::weakly_canonical(file, error);
  if (error) name = std::filesystem::absolute(file, error).lexically_normal();
  return name.string();
}

}  // namespace orv
