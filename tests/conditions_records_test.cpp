// The book's records read back as the book wrote them: a change of its words on one side only
// fails here, not in a handover report that silently stops seeing acknowledgements.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "conditions/condition_book.h"
#include "conditions/condition_records.h"

namespace orv {
namespace {

constexpr std::int64_t kMin = ConditionBook::kMinuteMs;

TEST(ConditionRecords, WhatTheBookSaysReadsBack) {
  ConditionBook book;
  PanelState state;
  state.lamps[6] = true;  // Mains
  state.lamps[7] = true;  // Battery
  book.Update(state, 0);
  std::vector<ConditionNews> news;
  ASSERT_EQ(book.Acknowledge("fault-7", "alice", "card: replaced", kMin, news), "done");
  ASSERT_EQ(book.Acknowledge("fault-8", "alice", "", kMin, news), "done");
  ASSERT_EQ(book.Shelve("fault-7", "bob", "works", 91 * kMin, kMin, news), "done");
  book.Tick(80 * kMin, news);
  book.Tick(91 * kMin, news);
  ASSERT_EQ(news.size(), 5u);  // the two acknowledgements, the shelf, its reminder, its end

  struct Want {
    ConditionRecord::Kind kind;
    const char* name;
    const char* words;
    std::int64_t minutes;
  };
  const std::vector<std::optional<Want>> wanted{
      Want{ConditionRecord::Kind::kAcknowledged, "Mains", "card: replaced", 0},
      Want{ConditionRecord::Kind::kAcknowledged, "Battery", "", 0},
      Want{ConditionRecord::Kind::kShelved, "Mains", "works", 90},
      std::nullopt,  // the reminder changes nothing
      Want{ConditionRecord::Kind::kShelfEnded, "Mains", "", 0}};
  for (std::size_t i = 0; i < news.size(); ++i) {
    SCOPED_TRACE(news[i].text);
    const auto read = ParseConditionRecord(news[i].text);
    ASSERT_EQ(read.has_value(), wanted[i].has_value());
    if (!read) continue;
    EXPECT_EQ(read->kind, wanted[i]->kind);
    EXPECT_EQ(read->name, wanted[i]->name);
    EXPECT_EQ(read->words, wanted[i]->words);
    EXPECT_EQ(read->minutes, wanted[i]->minutes);
  }
}

TEST(ConditionRecords, OtherTextsAreNotTheBooks) {
  for (const char* text : {"Acknowledged Mains", "Acknowledged \"Mains", "Acknowledged \"Mains\"x",
                           "Shelved \"Mains\" for x min: r", "Shelved \"Mains\" for 0 min: r",
                           "Shelf of \"Mains\" ended soon", "Renamed EMG 1: \"a\" to \"b\""})
    EXPECT_FALSE(ParseConditionRecord(text).has_value()) << text;
}

}  // namespace
}  // namespace orv
