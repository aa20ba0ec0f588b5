#include "access/login_words.h"

namespace orv {
namespace {

constexpr int kHighestLevel = 3;

}  // namespace

std::string LogInReason(Action refused) {
  const int level = LevelNumber(RequiredLevel(refused));
  std::string levels = std::to_string(level);
  for (int higher = level + 1; higher <= kHighestLevel; ++higher)
    levels += (higher == kHighestLevel ? " or " : ", ") + std::to_string(higher);
  return std::string(ActionName(refused)) + " needs level " + std::to_string(level) +
         ": log in as an operator of level " + levels + ".";
}

std::string LevelsNeeded() {
  std::string text;
  for (int level = 2; level <= kHighestLevel; ++level) {
    std::string names;
    for (const OperatorAction& row : kOperatorActions) {
      if (LevelNumber(row.level) != level) continue;
      names += (names.empty() ? "" : ", ") + std::string(row.name);
    }
    if (names.empty()) continue;
    text +=
        (text.empty() ? "" : "\n") + std::string("Level ") + std::to_string(level) + ": " + names;
  }
  return text;
}

bool SaysLevelRefusal(std::string_view text) {
  return text.find("refused: level ") != std::string_view::npos;
}

}  // namespace orv
