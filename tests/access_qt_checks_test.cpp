// The gate's checks as the program wires them: the back-off read at the start and written at the
// end, so that a restart gives no fresh guesses; a damaged file is said and starts empty.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/login_backoff_file.h"
#include "access/qt/qt_pin_checks.h"
#include "tests/support/wait_for.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

TEST(QtPinChecks, TheBackOffOutlivesARestartADamagedFileIsSaid) {
  const test::TempFolder folder;
  const std::filesystem::path file = folder.path() / kLogInBackOffFile;
  const UsersFile users{AccessMode::kOn, {Operator{"alice", AccessLevel::kLevel2, "$y$x", false}}};
  const Origin web{OriginKind::kWeb, "192.0.2.7"};
  std::vector<std::string> said;
  const NoticeFn notice = [&said](const Notice& n) { said.push_back(n.text); };
  {
    AccessGate gate(users);
    const QtPinChecks checks(gate, file, notice);
    for (int i = 0; i < AccessGate::kFreeAttempts; ++i)
      gate.back_off().Failed("alice", web, AccessClock::now());
  }
  EXPECT_TRUE(said.empty());
  {
    AccessGate gate(users);
    const QtPinChecks checks(gate, file, notice);
    const LogInStart start = gate.BeginLogIn(web, "alice", "1234", AccessClock::now());
    ASSERT_TRUE(start.answer.has_value());
    EXPECT_EQ(start.answer->outcome, LogInOutcome::kWaiting);
  }
  test::WriteBytes(file, "damaged\n");
  AccessGate gate(users);
  const QtPinChecks checks(gate, file, notice);
  ASSERT_EQ(said.size(), 1U);
  EXPECT_NE(said[0].find("is damaged"), std::string::npos) << said[0];
  EXPECT_EQ(gate.back_off().size(), 0U);
}

// A write that fails is said and tried again a second later, without waiting for another change.
TEST(QtPinChecks, AFailedWriteIsSaidAndTriedAgain) {
  const test::TempFolder folder;
  const std::filesystem::path file = folder.path() / "DATA" / kLogInBackOffFile;
  std::vector<std::string> said;
  AccessGate gate(UsersFile{AccessMode::kOn, {}});
  const QtPinChecks checks(gate, file, [&said](const Notice& n) { said.push_back(n.text); });
  gate.back_off().Failed("alice", Origin{OriginKind::kWeb, "192.0.2.7"}, AccessClock::now());
  ASSERT_TRUE(test::WaitFor([&] { return !said.empty(); }));
  EXPECT_NE(said[0].find("cannot be created"), std::string::npos) << said[0];
  std::filesystem::create_directory(file.parent_path());
  EXPECT_TRUE(test::WaitFor([&] { return std::filesystem::exists(file); }));
}

}  // namespace
}  // namespace orv
