// The real program and the site's settings: the service refuses to start on a wrong value with
// its file and line, --check-settings answers with the same line, and SIGHUP re-reads the
// settings while the line stays up, against the simulator.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SiteSettingsProgram : public test::ProgramFolderTest {
 protected:
  // The port map, a comment, then section and key on line 5.
  void WriteSettings(const std::string& section, const std::string& entry) {
    test::WriteBytes(site_, "[SerialPorts]\nCOM1=" + link_.string() + "\n; the site\n[" + section +
                                "]\n" + entry + "\n");
  }
  fs::path site_ = folder_.path() / "orvandel.ini";
};

// Each value that used to become its default without a word.
TEST_F(SiteSettingsProgram, TheServiceRefusesEachWrongValueWithItsFileAndLine) {
  const struct {
    const char* section;
    const char* entry;
    const char* why;
  } cases[] = {
      {"LinkWatch", "NoReplySeconds=abc", " is not a number from 2 to 100 (or 0)"},
      {"WebPanel", "MaxClients=12345", " is not a number from 1 to 1024"},
      {"MQTT", "KeepAlive=1", " is not a number from 5 to 3600"},
      {"Access", "IdleMinutes=0", " is not a number from 1 to 1440"},
      {"Annunciation", "ReminderHours=-3", " is not a number from 0 to 8760"},
      {"WebPanel", "Listen=127.0.0.1:8080 ; comment", " is not an address and port"},
      {"Annunciation", "Device=pulse ; the desk", ": a ; after a value is part of the value"},
  };
  for (const auto& c : cases) {
    WriteSettings(c.section, c.entry);
    auto program = StartProgram({"--headless", "--site-settings", site_.string()},
                                {.env = {}, .capture_stderr = true});
    EXPECT_EQ(program->WaitForExit(), 78) << c.entry;
    const std::string line =
        "orvandel: " + site_.string() + ":5: [" + c.section + "] " + c.entry + c.why;
    EXPECT_NE(program->error_output().find(line), std::string::npos) << line << "\nin:\n"
                                                                     << program->error_output();
  }
}

TEST_F(SiteSettingsProgram, CheckSettingsSaysEachValueAndTheWrongOnesAndTheTemplatePasses) {
  WriteSettings("MQTT", "KeepAlive=1");
  test::ChildProcess wrong(test::kProgram, {"--check-settings", site_.string()});
  EXPECT_EQ(wrong.WaitForExit(), 1);
  for (const std::string& line :
       {"[MQTT] KeepAlive=1  (" + site_.string() + ":5)\n",
        std::string("[Access] IdleMinutes=10  (default)\n"),
        site_.string() + ":5: [MQTT] KeepAlive=1 is not a number from 5 to 3600\n"})
    EXPECT_NE(wrong.output().find(line), std::string::npos) << line << "in:\n" << wrong.output();
  test::ChildProcess shipped(test::kProgram, {"--check-settings", ORV_SITE_TEMPLATE});
  EXPECT_EQ(shipped.WaitForExit(), 0) << shipped.output();
}

TEST_F(SiteSettingsProgram, SighupChangesTheLinkWatchWithoutDroppingTheLine) {
  WriteSettings("LinkWatch", "NoReplySeconds=100");
  auto sim = StartSim();
  auto program = StartProgram({"--headless", "--site-settings", site_.string()});
  ASSERT_TRUE(program->WaitForOutput(" link Connected: ")) << program->output();

  // A wrong file is not taken: the service runs on.
  WriteSettings("LinkWatch", "NoReplySeconds=abc");
  program->Signal(SIGHUP);
  ASSERT_TRUE(program->WaitForOutput("settings not reloaded: the running settings are kept"))
      << program->output();

  test::WriteBytes(site_, "[SerialPorts]\nCOM1=" + link_.string() +
                              "\n[LinkWatch]\nNoReplySeconds=2\n[MQTT]\nKeepAlive=60\n");
  program->Signal(SIGHUP);
  ASSERT_TRUE(program->WaitForOutput("settings [LinkWatch] NoReplySeconds=2 from now on"))
      << program->output();
  EXPECT_TRUE(program->WaitForOutput("settings [MQTT] changes take effect at the next start"))
      << program->output();
  // The new limit is the one in force: a controller silent for 2 s is lost, where 100 s would
  // have kept it.
  sim->Signal(SIGSTOP);
  EXPECT_TRUE(program->WaitForOutput(" link No reply from the controller", 4500ms))
      << program->output();
  sim->Signal(SIGCONT);
  EXPECT_TRUE(program->WaitForOutput(" link The controller answers again")) << program->output();
  // One connect, never dropped, from the start to the stop.
  EXPECT_EQ(program->output().find("Disconnected"), std::string::npos) << program->output();
  EXPECT_EQ(program->output().find("Connected: ", program->output().find(" from now on")),
            std::string::npos)
      << program->output();
  EXPECT_EQ(program->Stop(), 0);
}

}  // namespace
}  // namespace orv
