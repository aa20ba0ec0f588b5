#include <gtest/gtest.h>

#include "platform/null_serial_port.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

TEST(NullSerialPort, NeverOpensAndSwallowsWrites) {
  NullSerialPort port;
  int received = 0;
  port.SetReceiveHandler([&](const Bytes&) { ++received; });
  port.SetCommPort(3);
  port.SetSettings("9600,N,8,1");
  port.Open();
  EXPECT_FALSE(port.IsOpen());
  port.Output({0x02, 0x00, 0x01, 0x00, 0x03});
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(received, 0);
}

// The program with no serial line behind it: connecting fails the way a missing port does.
class NullPortFormTest : public test::FormTest {
 protected:
  NullSerialPort null_port_;
};

TEST_F(NullPortFormTest, ConnectingReportsComPortFail) {
  MainForm form(MainFormEnvironment{
      null_port_, program_folder_,
      [this](const std::string& text, const std::string& caption, MessageIcon icon) {
        messages_.push_back({text, caption, icon});
      },
      [this] { return now_; }});
  form.Form_Load();
  form.ConnectCB.PerformClick();
  EXPECT_FALSE(form.shared().PortConnected);
  EXPECT_EQ(form.ConnectCB.caption(), "Connection");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Com Port Fail!");
  EXPECT_EQ(messages_[0].icon, MessageIcon::kStop);
}

}  // namespace
}  // namespace orv
