// What --instance makes of the program's places, and which service a window attaches to where
// several run: headless, with socket nodes in a folder standing for /run/orvandel.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/instance_options.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

ProgramOptions Parsed(const std::vector<std::string>& args) {
  const ParsedOptions parsed = ParseProgramOptions(args);
  EXPECT_EQ(parsed.error, "");
  ProgramOptions options = parsed.options;
  TakeInstancePlaces(options);
  return options;
}

TEST(InstanceOptions, AnInstanceTakesItsFolderSettingsSocketAndHost) {
  // The service has no socket folder here (no socket unit made it): it listens nowhere rather
  // than at the plain service's socket.
  ASSERT_FALSE(fs::exists("/run/orvandel/b")) << "this machine runs an instance b";
  const ProgramOptions service = Parsed({"--headless", "--instance", "b"});
  EXPECT_EQ(service.state_folder, fs::path("/var/lib/orvandel/b"));
  EXPECT_EQ(service.socket, "");
  const ProgramOptions window = Parsed({"--instance", "b", "--site-settings", "/s/all.ini"});
  EXPECT_EQ(window.socket, "/run/orvandel/b/panel.sock");
  const SiteFiles files = SiteFilesOf(window);
  EXPECT_EQ(files.instance, fs::path("/etc/orvandel/b.ini"));
  EXPECT_EQ(files.shared, fs::path("/s/all.ini"));
  EXPECT_EQ(RecordHost(window, "vm"), "vm/b");

  // Without --instance nothing changes: the plain service's places, the recorder's own host.
  const ProgramOptions plain = Parsed({"--headless"});
  EXPECT_EQ(plain.state_folder, std::nullopt);
  EXPECT_EQ(plain.socket, std::nullopt);
  EXPECT_EQ(SiteFilesOf(plain).instance, fs::path());
  EXPECT_EQ(SiteFilesOf(plain).shared, fs::path("/etc/orvandel/orvandel.ini"));
  EXPECT_EQ(RecordHost(plain, "vm"), "");
}

TEST(InstanceOptions, OfSeveralRunningTheWindowAttachesToTheOneTheOperatorPicks) {
  const test::TempFolder run;
  for (const char* name : {"a", "b"}) {
    fs::create_directories(run.path() / name);
    ASSERT_EQ(mknod((run.path() / name / "panel.sock").c_str(), S_IFSOCK | 0600, 0), 0);
  }
  const std::string b = (run.path() / "b" / "panel.sock").string();
  // The operator's pick (nullopt: cancelled); where the window attaches ("": nowhere).
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {"b", b}, {std::nullopt, ""}, {"zz", ""}};
  for (const auto& [pick, socket] : cases) {
    std::vector<std::string> offered;
    const ServiceSocketChoice choice = WindowSocketChoice(
        Parsed({}), false,
        [&offered, pick = pick](const std::vector<std::string>& names) {
          offered = names;
          return pick;
        },
        run.path());
    EXPECT_EQ(offered, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(choice.socket, socket) << pick.value_or("cancelled");
    EXPECT_EQ(choice.attach, !socket.empty());
    EXPECT_EQ(choice.instances.empty(), !socket.empty()) << "the names, for what is said";
  }
  // Nobody is asked where a name was given, or by a program without a window.
  int asked = 0;
  const ChooseInstanceFn count = [&asked](const std::vector<std::string>&) {
    ++asked;
    return std::optional<std::string>("a");
  };
  EXPECT_EQ(WindowSocketChoice(Parsed({"--instance", "b"}), false, count, run.path()).socket,
            "/run/orvandel/b/panel.sock");
  const ServiceSocketChoice service =
      WindowSocketChoice(Parsed({"--headless"}), true, count, run.path());
  EXPECT_FALSE(service.attach);
  EXPECT_EQ(service.socket, (run.path() / "panel.sock").string()) << "where the service listens";
  EXPECT_FALSE(WindowSocketChoice(Parsed({"--standalone"}), false, count, run.path()).attach);
  EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace orv
