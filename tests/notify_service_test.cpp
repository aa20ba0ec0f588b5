// The service's notifications for real: the simulator lights a fault, and the site's command,
// a web hook and the mail (msmtp to a local SMTP server) hear of it, repeat, escalate and are
// told when it is acknowledged; a kill -9 in between sends nothing twice and misses nothing.
#include <gtest/gtest.h>

#include <signal.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/fault_lamps.h"
#include "notify_fixtures.h"
#include "notify_qt_hook_server.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

double Seconds(Clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

class NotifiedService : public test::ProgramFolderTest {
 protected:
  // The command's calls, by type and step: the time it started and its environment.
  struct Call {
    double started = 0;
    std::map<std::string, std::string> env;
  };
  std::multimap<std::string, Call> Calls() const {
    std::multimap<std::string, Call> calls;
    for (const auto& entry : fs::directory_iterator(calls_)) {
      std::ifstream in(entry.path());
      Call call;
      in >> call.started;
      for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos)
          call.env[line.substr(0, eq)] = line.substr(eq + 1);
      calls.emplace(call.env["ORV_NOTIFY_TYPE"] + " " + call.env["ORV_STEP"], call);
    }
    return calls;
  }
  std::multimap<std::string, std::string> Mails() const {
    std::multimap<std::string, std::string> mails;  // recipient, subject
    for (const fs::path& file : mail_.Mails()) {
      const std::string raw = test::ReadBytes(file);
      const auto header = [&raw](const std::string& name) {
        const auto at = raw.find("\n" + name + ": ");
        if (at == std::string::npos) return std::string();
        const auto from = at + name.size() + 3;
        return raw.substr(from, raw.find_first_of("\r\n", from) - from);
      };
      mails.emplace(header("X-RcptTo"), header("Subject"));
    }
    return mails;
  }
  std::vector<std::string> Hooks() const {
    std::vector<std::string> types;
    for (const test::HookRequest& r : hooks_.requests)
      types.push_back(QJsonDocument::fromJson(r.body)["type"].toString().toStdString() + " " +
                      std::to_string(QJsonDocument::fromJson(r.body)["step"].toInt()));
    return types;
  }
  std::unique_ptr<test::ChildProcess> StartService() {
    return StartProgram({"--headless", "--socket", socket_.string()});
  }
  static bool Wait(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }

  void SetUp() override {
    ProgramFolderTest::SetUp();
    ASSERT_TRUE(mail_.up()) << mail_.problem();
    fs::create_directories(calls_);
    test::WriteBytes(command_, "#!/bin/sh\n{ date +%s.%N; env | grep '^ORV_'; } > " +
                                   calls_.string() + "/call.$$\n");
    fs::permissions(command_, fs::perms::owner_all);
    std::ofstream ini(folder_.path() / "SYSINI" / "MainForm.INI", std::ios::app);
    ini << "[Notify]\r\nRules=site\r\nCommand=" << command_.string()
        << "\r\nSendmail=" << mail_.Sendmail("sendmail", mail_.port()).string()
        << "\r\nMailFrom=panel@example.org\r\n[Notify site]\r\nConditions=fault\r\n"
        << "Repeat=0, 6s, 14s\r\nTo=command, mail:duty@example.org, "
        << hooks_.Url("http", "/hook").toStdString()
        << "\r\nEscalateAfter=10s\r\nEscalateTo=mail:boss@example.org\r\nInterval=1s\r\n";
  }

  test::MailServer mail_{folder_.path() / "smtp"};
  test::HookServer hooks_;
  fs::path calls_ = folder_.path() / "calls";
  fs::path command_ = folder_.path() / "page-duty";
  fs::path socket_ = folder_.path() / "panel.sock";
};

TEST_F(NotifiedService, AFaultReachesEveryoneRepeatsEscalatesSurvivesAKillAndEndsWhenAcknowledged) {
  auto sim = StartSim();
  auto service = StartService();
  ASSERT_TRUE(Wait(
      [&] {
        return service->Drain(), service->output().find(" link Connected: ") != std::string::npos;
      },
      5000))
      << service->output();
  sim->Type("fault 4 on");
  ASSERT_TRUE(sim->WaitForOutput("fault image: ")) << sim->output();
  const Clock::time_point lit = Clock::now();
  QElapsedTimer clock;
  clock.start();
  // The hook within a second, the command started within a second, the mail at the server
  // within five.
  ASSERT_TRUE(Wait([&] { return !hooks_.requests.empty(); }, 5000));
  EXPECT_LT(clock.elapsed(), 1000);
  ASSERT_TRUE(Wait([&] { return Calls().count("problem 0") == 1; }, 5000));
  const auto first = Calls().find("problem 0")->second;
  EXPECT_LT(first.started - Seconds(lit), 1.0);
  ASSERT_TRUE(Wait([&] { return Mails().count("duty@example.org") == 1; }, 5000));
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(Mails().begin()->second,
            std::string("[Orvandel] problem: \"") + kFaultLampCaptions[3] + "\" stands");
  EXPECT_EQ(first.env.at("ORV_CONDITION") + " " + first.env.at("ORV_RULE") + " " +
                first.env.at("ORV_TEXT"),
            std::string("fault-4 site \"") + kFaultLampCaptions[3] + "\" stands");
  const std::string seq = first.env.at("ORV_SEQ");

  // The first repeat answered on every channel and journalled, then killed before the second.
  const auto answered = [&service](const std::string& what) {
    service->Drain();
    int count = 0;
    for (std::size_t at = 0; (at = service->output().find(what, at)) != std::string::npos; ++at)
      ++count;
    return count;
  };
  ASSERT_TRUE(Wait([&] { return answered("Notify site repeat to ") == 3; }, 10000));
  QTest::qWait(500);
  service->Signal(SIGKILL);
  service->WaitForExit();
  service = StartService();
  // After the restart: the escalation (due at 10 s), the second repeat (14 s), to the boss too.
  ASSERT_TRUE(Wait([&] { return Calls().count("repeat 2") == 1; }, 15000)) << service->output();
  EXPECT_EQ(Calls().find("repeat 2")->second.env.at("ORV_SEQ"), seq);
  EXPECT_TRUE(Wait([&] { return Mails().count("boss@example.org") == 2; }, 5000))
      << "the escalation and the second repeat";

  // Acknowledged at the service: done, to everyone told.
  QLocalSocket window;
  window.connectToServer(QString::fromStdString(socket_.string()));
  ASSERT_TRUE(window.waitForConnected(5000));
  window.write(
      R"({"type":"action","id":1,"action":"acknowledge","condition":"fault-4","text":"seen"})"
      "\n");
  ASSERT_TRUE(Wait([&] { return Calls().count("done 0") == 1; }, 5000));
  ASSERT_TRUE(Wait([&] { return Mails().size() == 7u; }, 5000)) << Mails().size();
  EXPECT_EQ(answered("Notify site problem to "), 0) << "after the restart, the first again";
  QTest::qWait(1500);
  // Each step once, whatever the kill: on every channel.
  std::vector<std::string> steps;
  for (const auto& [step, call] : Calls())
    steps.push_back(step);
  EXPECT_EQ(steps, (std::vector<std::string>{"done 0", "problem 0", "repeat 1", "repeat 2"}));
  EXPECT_EQ(Hooks(), (std::vector<std::string>{"problem 0", "repeat 1", "repeat 2", "done 0"}));
  std::multiset<std::pair<std::string, std::string>> subjects;
  for (const auto& [to, subject] : Mails())
    subjects.emplace(to, subject.substr(0, subject.find(':')));
  EXPECT_EQ(subjects, (std::multiset<std::pair<std::string, std::string>>{
                          {"boss@example.org", "[Orvandel] done"},
                          {"boss@example.org", "[Orvandel] escalation"},
                          {"boss@example.org", "[Orvandel] repeat"},
                          {"duty@example.org", "[Orvandel] done"},
                          {"duty@example.org", "[Orvandel] problem"},
                          {"duty@example.org", "[Orvandel] repeat"},
                          {"duty@example.org", "[Orvandel] repeat"}}));
  EXPECT_EQ(service->Stop(), 0);
  // The journal has each step due once, keyed alike before and after the kill: TYPE:
  // CONDITION:SEQ:STEP of each due record.
  std::vector<std::string> due;
  for (const JournalRow& row : Rows()) {
    const std::string& d = row.entry.detail;
    if (d.rfind("due site ", 0) != 0) continue;
    std::size_t end = 0;
    for (int colons = 0; colons < 4 && end != std::string::npos; ++colons)
      end = d.find(':', end + 1);
    due.push_back(d.substr(9, end - 9));
  }
  EXPECT_EQ(due, (std::vector<std::string>{
                     "problem:fault-4:" + seq + ":0", "repeat:fault-4:" + seq + ":1",
                     "escalation:fault-4:" + seq + ":0", "repeat:fault-4:" + seq + ":2",
                     "done:fault-4:" + seq + ":0"}));
}

TEST_F(NotifiedService, TheTestSaysWhatEachRecipientAnswered) {
  hooks_.status = 500;
  auto test = StartProgram({"--notify-test"});
  const auto lines = [&test] {
    test->Drain();
    return std::count(test->output().begin(), test->output().end(), '\n');
  };
  ASSERT_TRUE(Wait([&] { return lines() == 4; }, 15000)) << test->output();
  EXPECT_EQ(test->WaitForExit(), 1);
  const std::string hook = hooks_.Url("http", "/hook").toStdString();
  for (const std::string& said : {std::string("site to command: delivered (exit 0)"),
                                  std::string("site to mail:duty@example.org: delivered (exit 0)"),
                                  std::string("site to mail:boss@example.org: delivered (exit 0)"),
                                  "site to " + hook + ": failed (HTTP 500)"})
    EXPECT_NE(test->output().find(said + "\n"), std::string::npos) << said << " in\n"
                                                                   << test->output();
  ASSERT_EQ(Calls().count("test 0"), 1u);
  EXPECT_EQ(Calls().find("test 0")->second.env.at("ORV_RULE"), "site");
  EXPECT_EQ(Mails().size(), 2u);

  auto unknown = StartProgram({"--notify-test", "night"});
  EXPECT_EQ(unknown->WaitForExit(), 2);
  EXPECT_EQ(unknown->output(), "no notification rule named night in [Notify] Rules\n");
}

}  // namespace
}  // namespace orv
