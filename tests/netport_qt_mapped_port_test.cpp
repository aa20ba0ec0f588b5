// The mapped port without the program's module: an address is refused with the reason, asked
// for the network port once per open that needs it, and a local device works as ever.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "netport/qt/qt_mapped_serial_port.h"
#include "tests/pty_pair.h"

namespace orv {
namespace {

TEST(QtMappedSerialPortWithoutModule, RefusesAddressesWithTheReasonAndOpensDevices) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  std::string value;
  int asked = 0;
  QtMappedSerialPort port([&value](int) { return value; },
                          [&asked](std::string& why) -> std::unique_ptr<NetworkSerialPort> {
                            ++asked;
                            why = "the module is missing";
                            return nullptr;
                          });
  port.SetCommPort(3);
  port.SetSettings("9600,N,8,1");

  // The mapped value, whether it opens, and how the reason starts when it does not.
  const std::tuple<std::string, bool, const char*> rows[] = {
      {"rfc2217://127.0.0.1:7000", false,
       "COM3=rfc2217://127.0.0.1:7000 in [SerialPorts]: network ports are unavailable: the "
       "module is missing"},
      {pty.slave_path(), true, ""},
      {"tcp://127.0.0.1:7000", false, "COM3=tcp://127.0.0.1:7000 in [SerialPorts]: network ports"},
  };
  for (const auto& [mapped, opens, error] : rows) {
    SCOPED_TRACE(mapped);
    value = mapped;
    port.Open();
    EXPECT_EQ(port.IsOpen(), opens) << port.last_error().text;
    if (!opens) {
      EXPECT_EQ(port.last_error().kind, PortErrorKind::kNotFound);
      EXPECT_EQ(port.last_error().text.rfind(error, 0), 0u) << port.last_error().text;
    }
    port.Close();
  }
  EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace orv
