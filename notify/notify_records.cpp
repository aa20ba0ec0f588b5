#include "notify/notify_records.h"

#include <charconv>

namespace orv {
namespace {

std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (true) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

template <typename Number>
bool ReadNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<NotifyItemKey> ParseItem(std::string_view text) {
  const std::vector<std::string_view> parts = SplitAt(text, ':');
  NotifyItemKey item;
  if (parts.size() != 6 || parts[0].empty() || parts[1].empty() ||
      !ReadNumber(parts[2], item.seq) || !ReadNumber(parts[3], item.step) ||
      !ReadNumber(parts[4], item.since_ms) || !ReadNumber(parts[5], item.start_ms))
    return std::nullopt;
  item.type = std::string(parts[0]);
  item.condition = std::string(parts[1]);
  return item;
}

}  // namespace

std::string NotifyItemKey::Text() const {
  return type + ":" + condition + ":" + std::to_string(seq) + ":" + std::to_string(step) + ":" +
         std::to_string(since_ms) + ":" + std::to_string(start_ms);
}

std::string NotifyRecordDetail::Text() const {
  std::string text = what + " " + rule + " ";
  for (std::size_t i = 0; i < items.size(); ++i)
    text += (i > 0 ? ";" : "") + items[i].Text();
  if (!recipients.empty()) text += " ";
  for (std::size_t i = 0; i < recipients.size(); ++i)
    text += (i > 0 ? "," : "") + recipients[i];
  return text;
}

std::optional<NotifyRecordDetail> ParseNotifyRecordDetail(std::string_view detail) {
  const std::vector<std::string_view> words = SplitAt(detail, ' ');
  NotifyRecordDetail parsed;
  if (words.size() < 3 || words[1].empty()) return std::nullopt;
  parsed.what = std::string(words[0]);
  parsed.rule = std::string(words[1]);
  const bool closed = parsed.what == "closed";
  const bool due = parsed.what == "due";
  if (!closed && !due && parsed.what != "sent" && parsed.what != "failed" &&
      parsed.what != "gave-up")
    return std::nullopt;
  if (words.size() != (closed ? 3u : 4u)) return std::nullopt;
  for (const std::string_view item : SplitAt(words[2], ';')) {
    std::optional<NotifyItemKey> key = ParseItem(item);
    if (!key) return std::nullopt;
    parsed.items.push_back(std::move(*key));
  }
  if (!due && parsed.items.size() != 1) return std::nullopt;
  if (!closed) {
    for (const std::string_view recipient : SplitAt(words[3], ',')) {
      if (recipient.empty()) return std::nullopt;
      parsed.recipients.emplace_back(recipient);
    }
    if (!due && parsed.recipients.size() != 1) return std::nullopt;
  }
  return parsed;
}

std::string NotifyRecordText(std::string_view rule, std::string_view type, std::string_view text) {
  return "Notify " + std::string(rule) + " " + std::string(type) + ": " + std::string(text);
}

std::string NotifyMessageTextOf(std::string_view record_text, std::string_view rule,
                                std::string_view type) {
  const std::string prefix = NotifyRecordText(rule, type, "");
  if (record_text.substr(0, prefix.size()) != prefix) return {};
  return std::string(record_text.substr(prefix.size()));
}

}  // namespace orv
