#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// What the journal keeps of a notification, in the detail of its records, so that a restart
// (even after kill -9) knows what went, what was due and to whom: the same words written and
// read back.
//   due RULE ITEM[;ITEM...] RECIPIENT[,RECIPIENT...]   a notification, before it goes
//   sent RULE ITEM RECIPIENT                           delivered (ITEM: the due's first)
//   failed RULE ITEM RECIPIENT                         failed, to be tried again
//   gave-up RULE ITEM RECIPIENT                        failed for the last time
//   closed RULE ITEM                                   an episode no longer followed
// ITEM: TYPE:CONDITION:SEQ:STEP:SINCE:START (times in UTC milliseconds).
struct NotifyItemKey {
  std::string type;  // problem, repeat, escalation, done
  std::string condition;
  std::int64_t seq = 0;
  int step = 0;
  std::int64_t since_ms = 0;
  std::int64_t start_ms = 0;  // what its times count from

  std::string Text() const;
  bool operator==(const NotifyItemKey&) const = default;
};

struct NotifyRecordDetail {
  std::string what;  // due, sent, failed, gave-up, closed
  std::string rule;
  std::vector<NotifyItemKey> items;
  std::vector<std::string> recipients;

  std::string Text() const;
  bool operator==(const NotifyRecordDetail&) const = default;
};

// Nothing for a detail that is not one of the forms above.
std::optional<NotifyRecordDetail> ParseNotifyRecordDetail(std::string_view detail);

// The record's text for people begins so: "Notify RULE TYPE: " and the message's text.
std::string NotifyRecordText(std::string_view rule, std::string_view type, std::string_view text);
// The message's text back from a record's text; empty when it is not such a text.
std::string NotifyMessageTextOf(std::string_view record_text, std::string_view rule,
                                std::string_view type);

}  // namespace orv
