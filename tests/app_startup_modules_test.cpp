// The program's module as the program loads it: not before the plain window's start (the real
// program under a virtual X server of the test's own, its memory map read when its window is
// mapped, and again once the module has come), and only of the program's own build.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using Clock = std::chrono::steady_clock;

bool WindowNamed(xcb_connection_t* x, xcb_window_t window, const std::string& prefix) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      x, xcb_get_property(x, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
      nullptr);
  if (reply == nullptr) return false;
  const std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  std::free(reply);
  return name.starts_with(prefix);
}

TEST(StartupModules, ThePlainWindowIsMappedBeforeTheNetworkIsLoaded) {
  test::ChildProcess xvfb("/usr/bin/Xvfb",
                          {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
  if (!xvfb.WaitForOutput("\n")) GTEST_SKIP() << "no virtual X server (Xvfb)";
  const std::string display = ":" + xvfb.output().substr(0, xvfb.output().find('\n'));
  xcb_connection_t* x = xcb_connect(display.c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(x));
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(x);

  const test::TempFolder state;
  setenv("DISPLAY", display.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  test::ChildProcess program(test::kProgram,
                             {"--standalone", "--state-folder", state.path().string()});
  const auto maps = [&] {
    return test::ReadBytes("/proc/" + std::to_string(program.pid()) + "/maps");
  };
  std::string at_map;
  pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
  for (const auto deadline = Clock::now() + std::chrono::seconds(10);
       at_map.empty() && Clock::now() < deadline;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
      const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
      const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
      std::free(event);
      if (mapped && WindowNamed(x, window, "Orvandel Program")) {
        at_map = maps();
        break;
      }
    }
    poll(&fd, 1, 5);
  }
  // The module is mapped before the libraries it needs: both are waited for.
  std::string later;
  for (const auto deadline = Clock::now() + std::chrono::seconds(10);
       (later.find("orvandel-extras.so") == std::string::npos ||
        later.find("libQt6Network") == std::string::npos) &&
       Clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    later = maps();
  }
  xcb_disconnect(x);

  ASSERT_FALSE(at_map.empty()) << "the window was not mapped";
  EXPECT_NE(at_map.find("libQt6Widgets"), std::string::npos);
  for (const char* absent :
       {"libQt6Network", "libQt6Multimedia", "libQt6PrintSupport", "orvandel-extras.so"})
    EXPECT_EQ(at_map.find(absent), std::string::npos) << absent << " loaded before the window";
  EXPECT_NE(later.find("orvandel-extras.so"), std::string::npos) << "the module never came";
  EXPECT_NE(later.find("libQt6Network"), std::string::npos);
}

TEST(StartupModules, AModuleOfAnotherBuildIsRefusedByItsBuildId) {
  // The program as the build lays it out, app/ beside lib/orvandel/, where the module of another
  // build (the loader tests' module, with a build id of its own) takes the program's module's name.
  namespace fs = std::filesystem;
  const test::TempFolder root;
  const fs::path app = root.path() / "app", modules = root.path() / "lib" / "orvandel";
  fs::create_directories(app);
  fs::create_directories(modules);
  fs::create_directories(root.path() / "state");
  fs::copy_file(test::kProgram, app / "orvandel");
  fs::copy_file(test::kTestModule, modules / "orvandel-extras.so");
  chmod((modules / "orvandel-extras.so").c_str(), 0644);
  chmod(modules.c_str(), 0755);
  chmod(modules.parent_path().c_str(), 0755);
  test::ChildOptions options;
  options.capture_stderr = true;
  test::ChildProcess service((app / "orvandel").string(),
                             {"--headless", "--state-folder", (root.path() / "state").string(),
                              "--socket", (root.path() / "panel.socket").string()},
                             options);
  EXPECT_EQ(service.WaitForExit(), 1);
  EXPECT_NE(service.error_output().find(
                "is not loaded: it is of another build (build id the loader's test build, not "),
            std::string::npos)
      << service.error_output();
}

}  // namespace
}  // namespace orv
