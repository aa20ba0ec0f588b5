// The notices of a run as the window lists them: bounded, oldest first, each with its time.
#include "platform/notice_log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace orv {
namespace {

std::vector<std::string> Texts(const NoticeLog& log) {
  std::vector<std::string> texts;
  for (const LoggedNotice& entry : log.entries())
    texts.push_back(entry.notice.text);
  return texts;
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
  EXPECT_EQ(Texts(log), (std::vector<std::string>{"c", "d", "e"}));
  EXPECT_EQ(log.entries().front().time.minute, 23);
  EXPECT_EQ(log.entries().back().time.minute, 25);
  EXPECT_EQ(log.newest(), &log.entries().back());
  EXPECT_EQ(log.newest()->notice.level, NoticeLevel::kWarning);
  // Twenty unless told, and never none.
  EXPECT_EQ(NoticeLog(nullptr).capacity(), 20u);
  EXPECT_EQ(NoticeLog(nullptr, 0).capacity(), 1u);
}

TEST(NoticeLog, SinkAddsThenPassesEachNoticeOn) {
  NoticeLog log(nullptr);
  std::vector<std::string> passed;
  const NoticeFn sink = log.Sink([&](const Notice& notice) {
    passed.push_back(notice.text + " after " + std::to_string(log.entries().size()));
  });
  sink({NoticeLevel::kError, "first"});
  sink({NoticeLevel::kInfo, "second"});
  EXPECT_EQ(passed, (std::vector<std::string>{"first after 1", "second after 2"}));
  EXPECT_EQ(Texts(log), (std::vector<std::string>{"first", "second"}));
  log.Sink()({NoticeLevel::kInfo, "alone"});
  EXPECT_EQ(log.newest()->notice.text, "alone");
}

TEST(NoticeLog, EachLineHasItsDateTimeAndLevel) {
  const std::pair<LoggedNotice, const char*> cases[] = {
      {{{12, 4, 5, 21}, {NoticeLevel::kError, "EventLog.txt cannot be written"}},
       "12/04 05:21 Error: EventLog.txt cannot be written"},
      {{{1, 31, 23, 9}, {NoticeLevel::kWarning, "w"}}, "01/31 23:09 Warning: w"},
      {{{10, 1, 0, 0}, {NoticeLevel::kInfo, ""}}, "10/01 00:00 Info: "},
  };
  for (const auto& [entry, line] : cases)
    EXPECT_EQ(FormatLoggedNotice(entry), line);
}

}  // namespace
}  // namespace orv
