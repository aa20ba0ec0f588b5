// Another program that reads the same serial line (another operator's cat) takes each byte
// before this one can: the port says so, not that the device vanished.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/qt/qt_serial_port.h"
#include "tests/pty_pair.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using std::chrono::milliseconds;

TEST(QtSerialPortReaders, AnotherReaderOfTheLineIsSaidAsSuchNotAsALostDevice) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port([&pty](int) { return pty.slave_path(); });
  std::vector<PortErrorKind> failures;
  const Connection failed =
      port.failed().Connect([&failures](const PortError& e) { failures.push_back(e.kind); });
  port.SetCommPort(1);
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  // The pair's own slave descriptor plays the other program, waiting in read() as cat does.
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    char buffer[256];
    while (!stop && read(pty.slave_fd(), buffer, sizeof buffer) >= 0) {
    }
    ended = true;
  });
  const bool said = test::WaitFor(
      [&] {
        pty.WriteMaster(test::Hex("02 02 06 12 34 00 03"));
        return !failures.empty();
      },
      milliseconds(5000));
  stop = true;
  while (!ended) {  // wakes the reader
    pty.WriteMaster(test::Hex("00"));
    std::this_thread::sleep_for(milliseconds(5));
  }
  reader.join();
  ASSERT_TRUE(said) << "the other reader never took bytes first";
  EXPECT_EQ(failures, std::vector<PortErrorKind>{PortErrorKind::kBusy});
  EXPECT_NE(port.last_error().text.find("another program is reading COM1"), std::string::npos)
      << port.last_error().text;
}

}  // namespace
}  // namespace orv
