// orvandelctl against the real headless service, the simulator on its line: the state, its
// changes, the journal, and actions through the service's one gate, as a shell at the site runs
// them. (What each line says is the render test's; here each path is wired once.)
#include <gtest/gtest.h>

#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "access/pin_hash.h"
#include "access/users_file.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

class CtlService : public test::ProgramFolderTest {
 protected:
  struct Ran {
    int status = -1;
    std::string out;
    std::string err;
  };

  // The service with alice at level 2 (PIN 1234), connected to the simulator.
  void Start() {
    const std::filesystem::path users = folder_.path() / "users";
    test::WriteBytes(users,
                     FormatUsers({{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}));
    std::filesystem::permissions(
        users, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    sim_ = StartSim();
    service_ = StartProgram({"--headless", "--socket", socket_, "--users-file", users.string()});
    ASSERT_TRUE(service_->WaitForOutput(" link Connected: ")) << service_->output();
  }
  // orvandelctl at the service's socket, given input on its standard input.
  Ran Ctl(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--socket", socket_});
    test::ChildProcess ctl(test::kCtlProgram, args, {.env = {}, .capture_stderr = true});
    if (!input.empty()) ctl.Type(input);
    Ran ran;
    ran.status = ctl.WaitForExit(10s);
    ran.out = ctl.output();
    ran.err = ctl.error_output();
    return ran;
  }
  // status --json until it shows lamp (1-12) lit: the service learns of it at its next poll.
  QJsonObject StatusWithLamp(int lamp, Ran& ran) {
    QJsonObject json;
    for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(100ms)) {
      ran = Ctl({"status", "--json"});
      json = QJsonDocument::fromJson(QByteArray::fromStdString(ran.out)).object();
      if (json["lamps"][lamp - 1]["lit"].toBool()) break;
    }
    return json;
  }

  std::string socket_ = (folder_.path() / "panel.sock").string();
  std::unique_ptr<test::ChildProcess> sim_;
  std::unique_ptr<test::ChildProcess> service_;
};

TEST_F(CtlService, StatusWatchAndEventsShowWhatTheSimulatorDid) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::time_t started = std::time(nullptr) - 60;
  test::ChildProcess watch(test::kCtlProgram, {"--socket", socket_, "watch"},
                           {.env = {}, .capture_stderr = true});
  test::ChildProcess watch_json(test::kCtlProgram, {"--socket", socket_, "watch", "--json"});
  ASSERT_TRUE(service_->WaitForOutput("(2 attached)")) << service_->output();

  sim_->Type("fault 4 on");
  Ran status;
  const QJsonObject json = StatusWithLamp(4, status);
  EXPECT_EQ(json["lamps"][3]["caption"].toString(), "Music/Spare") << status.out;
  EXPECT_EQ(json["conditions"][0]["id"].toString(), "fault-4") << status.out;
  EXPECT_EQ(status.status, 1) << status.out << status.err;  // a fault stands
  EXPECT_TRUE(watch.WaitForOutput("lamp 4 Music/Spare lit")) << watch.output();
  EXPECT_TRUE(watch.WaitForOutput("fault-4 new")) << watch.output();
  EXPECT_TRUE(watch_json.WaitForOutput(R"({"caption":"Music/Spare","lamp":4,"lit":true})"))
      << watch_json.output();

  char since[32];
  std::strftime(since, sizeof since, "%Y-%m-%d %H:%M", std::localtime(&started));
  const Ran events = Ctl({"events", "--since", since});
  EXPECT_EQ(events.status, 0) << events.err;
  const auto connected = events.out.find(" link root: Connected: COM1");
  EXPECT_NE(connected, std::string::npos) << events.out;
  // Oldest first, as a log is read.
  EXPECT_LT(connected, events.out.find(" event root: ")) << events.out;
  const Ran json_events = Ctl({"events", "--since", since, "--json"});
  EXPECT_EQ(QJsonDocument::fromJson(
                QByteArray::fromStdString(json_events.out.substr(0, json_events.out.find('\n'))))
                .object()["seq"]
                .toInteger(),
            1)
      << json_events.out;

  // The service gone: a watch says so, and nobody answers a status.
  EXPECT_EQ(service_->Stop(), 0);
  EXPECT_EQ(watch.WaitForExit(), 3) << watch.output();
  EXPECT_NE(watch.error_output().find("the service closed the connection"), std::string::npos);
  EXPECT_EQ(Ctl({"status"}).status, 3);
}

TEST_F(CtlService, ActionsPassTheGateAsTheLoggedInOperatorAndAreJournalled) {
  ASSERT_NO_FATAL_FAILURE(Start());
  sim_->Type("fault 4 on");
  Ran status;
  StatusWithLamp(4, status);
  ASSERT_EQ(status.status, 1) << status.out;

  // A shell is not at the panel: before its log-in even what anyone there may do is refused.
  const Ran refused = Ctl({"silence"});
  EXPECT_EQ(refused.out + std::to_string(refused.status), "refused: level 1 needed\n4");
  const Ran wrong = Ctl({"login", "alice"}, "4321");
  EXPECT_EQ(wrong.status, 4) << wrong.out;
  const Ran login = Ctl({"login", "alice"}, "1234");
  EXPECT_EQ(login.out + std::to_string(login.status), "logged in: alice, level 2\n0") << login.err;
  // The log-in holds for this Unix user's next command.
  const Ran key = Ctl({"key", "fault-ack"});
  EXPECT_EQ(key.out + std::to_string(key.status), "done\n0");
  EXPECT_TRUE(sim_->WaitForOutput("operator key Fault Ack")) << sim_->output();
  const Ran silence = Ctl({"silence"});
  EXPECT_EQ(silence.out + std::to_string(silence.status), "done\n0");
  EXPECT_EQ(Ctl({"ack", "fault-4", "--comment", "seen"}).out, "done\n");
  EXPECT_EQ(Ctl({"shelve", "fault-4", "--minutes", "30", "--reason", "works"}).out, "done\n");
  // The shelf shows from the service's next tick.
  for (int i = 0; i < 50 && status.out.find(", shelved by alice until ") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(100ms);
    status = Ctl({"status"});
  }
  EXPECT_NE(status.out.find("fault-4 (fault) Music/Spare: acknowledged since "), std::string::npos)
      << status.out;
  EXPECT_EQ(status.status, 0);  // set aside on purpose: nothing stands
  EXPECT_NE(status.out.find("\nlogged in: alice (level 2, orvandelctl as root)\n"),
            std::string::npos)
      << status.out;

  const Ran logout = Ctl({"logout"});
  EXPECT_EQ(logout.out + std::to_string(logout.status), "logged out\n0");
  EXPECT_EQ(Ctl({"key", "fault-ack"}).status, 4);
  EXPECT_EQ(service_->Stop(), 0);

  // Each record of an operator's action names who did it; from the first of this test's.
  std::vector<std::string> journalled;
  for (const JournalRow& row : Rows())
    if (row.entry.kind == JournalKind::kOperator &&
        (!journalled.empty() || row.entry.text.starts_with("Silence refused")))
      journalled.push_back(row.entry.text + " | " + row.entry.detail);
  const std::vector<std::string> expected = {
      "Silence refused: level 1 needed: no operator, level 0, orvandelctl as root | ",
      "Log in refused (wrong PIN): alice, level 0, orvandelctl as root | ",
      "Log in: alice, level 2, orvandelctl as root | ",
      "Key Fault ACK | operator alice, level 2",
      "Annunciator silenced by root from orvandelctl | operator alice, level 2",
      "Acknowledged \"Music/Spare\": seen | operator alice, level 2",
      "Shelved \"Music/Spare\" for 30 min: works | operator alice, level 2",
      "Log out: alice, orvandelctl as root | ",
      "Fault ACK refused: level 2 needed: no operator, level 0, orvandelctl as root | ",
  };
  EXPECT_EQ(journalled, expected);
}

}  // namespace
}  // namespace orv
