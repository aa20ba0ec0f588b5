#include "conditions/condition_records.h"

#include <charconv>

namespace orv {
namespace {

// A quoted name at the front of text: the name, and text moved past its closing quote. Names
// hold no quote of their own (lamp captions, event words, the link's words).
bool TakeQuoted(std::string_view& text, std::string& name) {
  if (text.empty() || text.front() != '"') return false;
  const std::size_t end = text.find('"', 1);
  if (end == std::string_view::npos) return false;
  name = std::string(text.substr(1, end - 1));
  text.remove_prefix(end + 1);
  return true;
}

bool TakePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

std::optional<ConditionRecord> ParseConditionRecord(std::string_view text) {
  ConditionRecord record;
  if (TakePrefix(text, "Acknowledged ")) {
    if (!TakeQuoted(text, record.name)) return std::nullopt;
    if (TakePrefix(text, ": "))
      record.words = std::string(text);
    else if (!text.empty())
      return std::nullopt;
    return record;
  }
  if (TakePrefix(text, "Shelved ")) {
    record.kind = ConditionRecord::Kind::kShelved;
    if (!TakeQuoted(text, record.name) || !TakePrefix(text, " for ")) return std::nullopt;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), record.minutes);
    if (error != std::errc() || record.minutes <= 0) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (!TakePrefix(text, " min: ")) return std::nullopt;
    record.words = std::string(text);
    return record;
  }
  if (TakePrefix(text, "Shelf of ")) {
    record.kind = ConditionRecord::Kind::kShelfEnded;
    if (!TakeQuoted(text, record.name) || text != " ended") return std::nullopt;
    return record;
  }
  return std::nullopt;
}

}  // namespace orv
