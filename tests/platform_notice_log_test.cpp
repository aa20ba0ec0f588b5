#include "platform/notice_log.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace orv {
namespace {

// The log as the window lists it, a line each.
std::vector<std::string> Lines(const NoticeLog& log) {
  std::vector<std::string> lines;
  for (const LoggedNotice& entry : log.entries())
    lines.push_back(FormatLoggedNotice(entry));
  return lines;
}

TEST(NoticeLog, KeepsTheNewestUpToItsCapacityOldestFirstEachWithItsTime) {
  LocalDateTime now{12, 4, 5, 21};
  NoticeLog log([&now] { return now; }, 3);
  int changes = 0;
  const Connection connection = log.changed().Connect([&] { ++changes; });
  EXPECT_EQ(log.newest(), nullptr);
  EXPECT_TRUE(log.entries().empty());
  for (const char* text : {"a", "b", "c", "d", "e"}) {
    log.Add({NoticeLevel::kWarning, text});
    ++now.minute;
    EXPECT_EQ(log.newest()->notice.text, text) << "newest at once, before the next one";
  }
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(Lines(log),
            (std::vector<std::string>{"12/04 05:23 Warning: c", "12/04 05:24 Warning: d",
                                      "12/04 05:25 Warning: e"}));
  // Twenty unless told, and never none.
  EXPECT_EQ(NoticeLog(nullptr).capacity(), 20u);
  EXPECT_EQ(NoticeLog(nullptr, 0).capacity(), 1u);
}

TEST(NoticeLog, SinkAddsThenPassesEachNoticeOn) {
  NoticeLog log([] { return LocalDateTime{1, 31, 23, 9}; });
  std::vector<std::string> passed;
  const NoticeFn sink = log.Sink([&](const Notice& notice) {
    passed.push_back(notice.text + " after " + std::to_string(log.entries().size()));
  });
  sink({NoticeLevel::kError, "first"});
  sink({NoticeLevel::kInfo, "second"});
  EXPECT_EQ(passed, (std::vector<std::string>{"first after 1", "second after 2"}));
  EXPECT_EQ(Lines(log),
            (std::vector<std::string>{"01/31 23:09 Error: first", "01/31 23:09 Info: second"}));
  log.Sink()({NoticeLevel::kInfo, "alone"});
  EXPECT_EQ(log.newest()->notice.text, "alone");
}

// A refusal stops showing once its operator has logged in; the list keeps it, and what comes
// after it shows as ever.
TEST(NoticeLog, ASettledNewestNoticeIsNoLongerShownButStaysListed) {
  NoticeLog log(nullptr);
  int changes = 0;
  const Connection connection = log.changed().Connect([&] { ++changes; });
  const auto refusal = [](const Notice& n) { return n.text.starts_with("refused"); };
  log.Settle(refusal);  // nothing to settle
  log.Add({NoticeLevel::kWarning, "refused: level 2 needed"});
  log.Add({NoticeLevel::kError, "port lost"});
  log.Settle(refusal);  // the newest is not a refusal: it stays
  const std::string kept = log.shown() ? log.shown()->notice.text : "";
  log.Add({NoticeLevel::kWarning, "refused: level 3 needed"});
  log.Settle(refusal);
  log.Settle(refusal);  // once
  const bool hidden = log.shown() == nullptr;
  log.Add({NoticeLevel::kInfo, "port back"});
  EXPECT_EQ(std::tuple(kept, hidden, log.shown() ? log.shown()->notice.text : "", changes,
                       log.entries().size()),
            std::tuple(std::string("port lost"), true, std::string("port back"), 5, 4u));
}

}  // namespace
}  // namespace orv
