// The report read from a journal file: where its period begins (the last sign-off, a day back,
// or the start asked for) and what stood before it, replayed from the program's last start.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "handover/handover_read.h"
#include "handover/handover_render.h"
#include "handover/handover_signoff.h"
#include "journal/journal.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr std::int64_t kHour = 3600'000;
constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

class HandoverRead : public ::testing::Test {
 protected:
  void SetUp() override {
    JournalOptions options;
    options.clock = [this] { return JournalTime{now_ms_, 0}; };
    options.anchor = nullptr;
    journal_ = std::make_unique<Journal>(folder_.path(), NoticeFn{}, options);
  }
  void At(std::int64_t hours, JournalKind kind, std::string text, std::string detail = {}) {
    now_ms_ = kBase + hours * kHour;
    JournalEntry entry = journal_->Make(kind, std::move(text));
    entry.detail = std::move(detail);
    journal_->Append(std::move(entry));
    ASSERT_TRUE(journal_->Commit());
  }
  HandoverReport Report(std::int64_t now_hours, std::optional<std::int64_t> since_hours = {}) {
    JournalReader reader;
    EXPECT_TRUE(reader.Open(journal_->file()).ok());
    HandoverAsk ask{JournalTime{kBase + now_hours * kHour, 0}, std::nullopt};
    if (since_hours) ask.since_ms = kBase + *since_hours * kHour;
    HandoverReport report;
    EXPECT_TRUE(ReadHandoverReport(reader, ask, report).ok());
    return report;
  }

  test::TempFolder folder_;
  std::int64_t now_ms_ = kBase;
  std::unique_ptr<Journal> journal_;
};

TEST_F(HandoverRead, ThePeriodBeginsAtTheLastSignOffElseADayBack) {
  At(0, JournalKind::kProgram, "Program started: Orvandel, user desk");
  At(1, JournalKind::kEvent, "12/07 01:00 Event = ALARM");
  At(30, JournalKind::kEvent, "12/08 06:00 Event = EMG Reset");
  // The alarm cleared within the last 24 h.
  HandoverReport report = Report(40);
  EXPECT_EQ(report.from.utc_ms, kBase + 16 * kHour);
  EXPECT_EQ(report.cleared.size(), 1u);
  EXPECT_TRUE(report.since_handover.empty());

  // A comment quoting the words is no sign-off; the sign-off after the reset starts the period.
  At(31, JournalKind::kOperator, "Acknowledged \"ALARM\": Handover signed later");
  // As the sign-off words it, unchecked too.
  At(32, JournalKind::kOperator, HandoverRecordText("alice", "bob", "00", false));
  At(33, JournalKind::kOperator, "Acknowledged \"ALARM\": Handover signed later");
  report = Report(40);
  EXPECT_EQ(report.from.utc_ms, kBase + 32 * kHour);
  EXPECT_EQ(report.since_handover, HandoverRecordText("alice", "bob", "00", false));
  EXPECT_TRUE(report.cleared.empty());

  // --since wins over the sign-off.
  report = Report(40, 29);
  EXPECT_EQ(report.from.utc_ms, kBase + 29 * kHour);
  EXPECT_EQ(report.cleared.size(), 1u);
}

TEST_F(HandoverRead, WhatStoodBeforeThePeriodIsReplayedFromTheLastStart) {
  At(0, JournalKind::kEvent, "12/07 00:00 Event = EMG");
  At(1, JournalKind::kProgram, "Program started: Orvandel, user desk");
  At(2, JournalKind::kEvent, "12/07 02:00 Event = ALARM");
  At(3, JournalKind::kProgram, "Program stopped: Orvandel, user desk");
  At(4, JournalKind::kProgram, "Program started: Orvandel, user desk");
  At(5, JournalKind::kEvent, "12/07 05:00 Event = Fault 0000000001000000", "Mains");
  const HandoverReport report = Report(60);
  ASSERT_EQ(report.unacknowledged.size(), 1u);
  EXPECT_EQ(report.unacknowledged[0].name, "Mains");
}

TEST(HandoverText, TheCsvSaysItsPeriodFirst) {
  HandoverReport report;
  report.from = JournalTime{kBase, 3600};
  report.to = JournalTime{kBase + kHour, 3600};
  report.since_handover = "Handover signed: alice to bob, report SHA-256 00";
  JournalRow row;
  row.entry.time = report.to;
  row.entry.text = "=EMG refused: level 2 needed";
  report.refusals.push_back(row);
  EXPECT_EQ(HandoverCsv(report),
            "section,time,what,who,more\r\n"
            "period,2026-12-07 01:00:00,to 2026-12-07 02:00:00,,"
            "\"Handover signed: alice to bob, report SHA-256 00\"\r\n"
            "refused,2026-12-07 02:00:00,'=EMG refused: level 2 needed,,\r\n");
}

TEST(HandoverText, AHashIsSha256InLowercaseHex) {
  EXPECT_EQ(HandoverSha256("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(HandoverText, ARecordsLineBreaksCannotMakeALineOfItsOwn) {
  HandoverReport report;
  JournalRow row;
  row.entry.text = "EMG refused: x\nForged heading (9)\r\n";
  report.refusals.push_back(row);
  const std::string text = HandoverText(report);
  EXPECT_EQ(text.find("\nForged heading (9)"), std::string::npos) << text;
}

}  // namespace
}  // namespace orv
