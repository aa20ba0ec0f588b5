// The log-in dialog's words, from the one table of actions.
#include "access/login_words.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace orv {
namespace {

TEST(LogInWords, TheReasonNamesTheRefusedActionAndTheLevelsThatMayDoIt) {
  const std::pair<Action, std::string> cases[] = {
      {Action::kEmgReset, "EMG Reset needs level 2: log in as an operator of level 2 or 3."},
      {Action::kShelve, "Shelve needs level 2: log in as an operator of level 2 or 3."},
      {Action::kConnection,
       "Connection/Disconnection needs level 3: log in as an operator of level 3."},
  };
  for (const auto& [action, reason] : cases)
    EXPECT_EQ(LogInReason(action), reason);
}

TEST(LogInWords, EveryActionBeyondLevelOneIsListedUnderItsLevelOnce) {
  const std::string levels = LevelsNeeded();
  const std::size_t three = levels.find("\nLevel 3: ");
  ASSERT_TRUE(levels.starts_with("Level 2: ") && three != std::string::npos) << levels;
  for (const OperatorAction& row : kOperatorActions) {
    const std::string name(row.name);
    // Each name with its separators, so that "EMG" is not found inside "EMG Reset".
    const std::size_t at = (levels + ",").find(" " + name + ",");
    const std::size_t line_end = (levels + ",").find(" " + name + "\n");
    const std::size_t found = at != std::string::npos ? at : line_end;
    const int listed_level = found == std::string::npos ? 1 : (found > three ? 3 : 2);
    EXPECT_EQ(listed_level, LevelNumber(row.level)) << name << " in\n" << levels;
  }
}

TEST(LogInWords, OnlyARefusalForALevelIsSettledByALogIn) {
  const std::pair<const char*, bool> cases[] = {
      {"EMG Reset refused: level 2 needed", true},
      {"The service did not do it: refused: level 3 needed", true},
      {"EMG refused: more than 4 keys a second", false},
      {"The service did not do it: not connected", false},
      {"COM1 cannot be opened: device not found", false},
  };
  for (const auto& [text, refusal] : cases)
    EXPECT_EQ(SaysLevelRefusal(text), refusal) << text;
}

}  // namespace
}  // namespace orv
