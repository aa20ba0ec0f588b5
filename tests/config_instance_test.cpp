// One controller of several: which names an instance may have, and the places each name gives.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "config/instance.h"

namespace orv {
namespace {

TEST(Instance, ANameIsWhatTheFoldersTakeUnchangedAndNoneThePlainServiceUses) {
  // The name; the problem, empty where the name is taken.
  const std::pair<std::string, std::string> cases[] = {
      {"b", ""},
      {"hall-2_east", ""},
      {"9", ""},
      {std::string(32, 'a'), ""},
      {std::string(33, 'a'), "it is longer than 32 characters"},
      {"", "it is empty"},
      {"Hall", "it may have only lowercase letters, digits, '-' and '_'"},
      {"a.b", "it may have only lowercase letters, digits, '-' and '_'"},
      {"a/b", "it may have only lowercase letters, digits, '-' and '_'"},
      {"..", "it may have only lowercase letters, digits, '-' and '_'"},
      {"a b", "it may have only lowercase letters, digits, '-' and '_'"},
      {"caf\xc3\xa9", "it may have only lowercase letters, digits, '-' and '_'"},
      {"-b", "it must begin with a lowercase letter or a digit"},
      {"_b", "it must begin with a lowercase letter or a digit"},
      {"data", "the plain service's files use that name"},
      {"sysini", "the plain service's files use that name"},
      {"orvandel", "the plain service's files use that name"},
      {"orvandel2", ""},
  };
  for (const auto& [name, problem] : cases)
    EXPECT_EQ(InstanceNameProblem(name), problem) << name;
}

TEST(Instance, EachNameHasAFolderASettingsFileAndASocketOfItsOwn) {
  const InstancePlaces b = PlacesOfInstance("b");
  EXPECT_EQ(b.state_folder, "/var/lib/orvandel/b");
  EXPECT_EQ(b.settings_file, "/etc/orvandel/b.ini");
  EXPECT_EQ(b.socket, "/run/orvandel/b/panel.sock");
}

}  // namespace
}  // namespace orv
