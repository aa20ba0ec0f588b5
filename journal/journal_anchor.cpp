#include "journal/journal_anchor.h"

#include <algorithm>
#include <system_error>
#include <utility>

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

std::string Hex(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    text += kHexDigits[(static_cast<unsigned char>(c) >> 4) & 0xf];
    text += kHexDigits[static_cast<unsigned char>(c) & 0xf];
  }
  return text;
}

// 64 hex digits to their 32 bytes; false for anything else.
bool Unhex64(std::string_view text, std::string& bytes) {
  if (text.size() != 64) return false;
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

}  // namespace

std::string FormatJournalAnchor(const JournalAnchor& anchor) {
  return std::to_string(anchor.sequence) + ':' + Hex(anchor.chain);
}

std::string FormatJournalAsides(const std::vector<JournalAside>& asides) {
  std::string text;
  for (const JournalAside& aside : asides)
    text += (text.empty() ? "" : " ") + aside.name + ':' + Hex(aside.sha256);
  return text;
}

bool ParseJournalAsides(std::string_view text, std::vector<JournalAside>& asides) {
  asides.clear();
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(' '), text.size());
    const std::string_view item = text.substr(0, end);
    const std::size_t colon = item.find(':');
    JournalAside aside;
    if (colon == 0 || colon == std::string_view::npos ||
        !Unhex64(item.substr(colon + 1), aside.sha256)) {
      return false;
    }
    aside.name = item.substr(0, colon);
    asides.push_back(std::move(aside));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return true;
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
  if (!Unhex64(text.substr(colon + 1), chain)) return false;
  anchor = {sequence, chain, 0, {}};
  return true;
}

std::string JournalAnchorProblem(const JournalCheck& check, const JournalAnchor& anchor) {
  const std::string anchored = std::to_string(anchor.sequence);
  if (check.last_sequence < anchor.sequence) {
    return "the journal ends at " + std::to_string(check.last_sequence) + " but was anchored at " +
           anchored + ": records were deleted from its end, or the file was replaced";
  }
  // An anchor at a record pruned since is borne out by the pruning record, itself in the chain
  // (and compared with the value it names where the anchor is the cut's own record).
  if (check.pruned_upto != 0 && anchor.sequence == check.pruned_upto &&
      check.pruned_chain != anchor.chain) {
    return "the chain value at " + anchored +
           ", where the journal was pruned, differs from the anchor: the file was replaced or its "
           "chain recomputed";
  }
  if (check.pruned_upto >= anchor.sequence) return {};
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

std::vector<std::string> JournalAnchorFindings(const JournalCheck& check,
                                               const std::vector<JournalAnchor>& anchors,
                                               const std::filesystem::path& folder,
                                               std::vector<std::string>& intact) {
  std::vector<std::string> problems;
  std::vector<JournalAside> asides;
  // A chain recomputed while the program was stopped, and anchored anew after a restart that
  // could not read the earlier anchors, still differs at them.
  for (std::size_t i = 0; i + 1 < anchors.size(); ++i) {  // the newest is the head's to check
    const JournalAnchor& anchor = anchors[i];
    if (anchor.sequence < check.first_sequence || anchor.sequence > check.last_sequence) continue;
    const auto found = check.chains_at.find(anchor.sequence);
    if (found == check.chains_at.end() || found->second != anchor.chain) {
      problems.push_back("the chain value at " + std::to_string(anchor.sequence) +
                         " differs from its anchor: the file was replaced or its chain "
                         "recomputed");
      break;
    }
  }
  for (const JournalAnchor& anchor : anchors) {
    if (anchor.broken_at != 0 && anchor.broken_at >= check.first_sequence) {
      problems.push_back("the program found the journal changed outside it: after its anchor at " +
                         std::to_string(anchor.sequence) + " the chain fails at record " +
                         std::to_string(anchor.broken_at));
    }
    for (const JournalAside& aside : anchor.asides) {
      if (std::ranges::find(asides, aside.name, &JournalAside::name) == asides.end())
        asides.push_back(aside);
    }
  }
  intact.clear();
  for (const JournalAside& aside : asides) {
    std::error_code error;
    const std::filesystem::path copy = folder / aside.name;
    std::string problem;
    const std::string sha256 = std::filesystem::exists(std::filesystem::symlink_status(copy, error))
                                   ? JournalFileSha256(copy, problem)
                                   : std::string();
    if (sha256 == aside.sha256) {
      intact.push_back(aside.name);
    } else if (sha256.empty() && problem.empty()) {
      problems.push_back(aside.name + ", moved aside by the program, is missing");
    } else if (aside.sha256 == std::string(32, '\0')) {
      // Put in place unreadable to the program (by another user, or made so): nothing to compare.
      problems.push_back(aside.name +
                         ", moved aside by the program, could not be read by it then: whether it "
                         "changed since cannot be told");
    } else if (sha256.empty()) {
      problems.push_back(aside.name + ", moved aside by the program, cannot be read: " + problem);
    } else {
      problems.push_back(aside.name + ", moved aside by the program, has changed since (SHA-256 " +
                         Hex(sha256) + ", was " + Hex(aside.sha256) + ")");
    }
  }
  return problems;
}

std::string JournalAnchorDatagram(const std::string& name, const JournalAnchor& anchor) {
  const std::string chain = Hex(anchor.chain);
  const std::string sequence = std::to_string(anchor.sequence);
  const std::string broken = std::to_string(anchor.broken_at);
  std::string datagram;
  AddField(datagram, "MESSAGE",
           anchor.broken_at == 0 ? "orvandel journal head " + sequence + ' ' + chain
                                 : "orvandel journal changed outside the program: the chain "
                                   "fails at " +
                                       broken + ", after the head " + sequence + ' ' + chain);
  AddField(datagram, "MESSAGE_ID", kJournalAnchorMessageId);
  AddField(datagram, "PRIORITY", anchor.broken_at == 0 ? "6" : "2");
  AddField(datagram, "SYSLOG_IDENTIFIER", "orvandel");
  AddField(datagram, "ORVANDEL_JOURNAL_FILE", name);
  AddField(datagram, "ORVANDEL_JOURNAL_SEQUENCE", sequence);
  AddField(datagram, "ORVANDEL_JOURNAL_CHAIN", chain);
  if (anchor.broken_at != 0) AddField(datagram, "ORVANDEL_JOURNAL_BROKEN", broken);
  if (!anchor.asides.empty())
    AddField(datagram, "ORVANDEL_JOURNAL_ASIDE", FormatJournalAsides(anchor.asides));
  return datagram;
}

std::string JournalAnchorName(const std::filesystem::path& file) {
  std::error_code error;
  std::filesystem::path name = std::filesystem::weakly_canonical(file, error);
  if (error) name = std::filesystem::absolute(file, error).lexically_normal();
  return name.string();
}

}  // namespace orv
