// Which service a window or orvandelctl asks where one or several run: socket nodes in a folder
// standing for /run/orvandel.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "attach/service_probe.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

void MakeSocket(const fs::path& path) {
  fs::create_directories(path.parent_path());
  ASSERT_EQ(mknod(path.c_str(), S_IFSOCK | 0600, 0), 0) << path;
}

TEST(Instances, OnlyFoldersWithASocketAndANameAnInstanceCanHaveAreRunning) {
  const test::TempFolder run;
  MakeSocket(run.path() / "c" / "panel.sock");
  MakeSocket(run.path() / "a" / "panel.sock");
  MakeSocket(run.path() / "Upper" / "panel.sock");  // no instance's name
  fs::create_directories(run.path() / "stopped");   // its socket unit stopped: no node
  fs::create_directories(run.path() / "file");
  test::WriteBytes(run.path() / "file" / "panel.sock", "x");
  MakeSocket(run.path() / "panel.sock");  // the plain service's is no instance
  EXPECT_EQ(RunningInstances(run.path()), (std::vector<std::string>{"a", "c"}));
  EXPECT_TRUE(RunningInstances(run.path() / "gone").empty());
}

TEST(Instances, ANamedSocketOrInstanceComesFirstThenThePlainServiceThenTheOneRunning) {
  const test::TempFolder run;
  const fs::path r = run.path();
  const std::string plain = (r / "panel.sock").string(), a = (r / "a" / "panel.sock").string(),
                    b = (r / "b" / "panel.sock").string();
  struct Row {
    std::vector<fs::path> sockets;  // made before the choice
    std::optional<std::string> socket, instance;
    std::string chosen;
    bool attach;
    std::vector<std::string> several;
  };
  const Row rows[] = {
      {{}, std::nullopt, std::nullopt, plain, false, {}},
      {{plain}, std::nullopt, std::nullopt, plain, true, {}},
      {{a}, std::nullopt, std::nullopt, a, true, {}},
      {{a, b}, std::nullopt, std::nullopt, "", false, {"a", "b"}},
      {{plain, a, b}, std::nullopt, std::nullopt, plain, true, {}},
      {{a, b}, std::nullopt, "b", b, true, {}},
      {{}, std::nullopt, "b", b, true, {}},  // not running: said by the connect
      {{a, b}, "/x.sock", std::nullopt, "/x.sock", true, {}},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    fs::remove_all(r);
    fs::create_directories(r);
    for (const fs::path& socket : row.sockets)
      MakeSocket(socket);
    const ServiceSocketChoice choice = ChooseServiceSocket(row.socket, row.instance, r);
    EXPECT_EQ(choice.socket, row.chosen) << "row " << i;
    EXPECT_EQ(choice.attach, row.attach) << "row " << i;
    EXPECT_EQ(choice.instances, row.several) << "row " << i;
  }
  EXPECT_EQ(SeveralInstancesText({"a", "b"}),
            "several instances run here (a, b): name one with --instance NAME");
}

}  // namespace
}  // namespace orv
