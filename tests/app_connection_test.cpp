#include <gtest/gtest.h>

#include <filesystem>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;
using test::Hex;
using test::ReadBytes;

TEST_F(FormTest, ConnectWithDefaultsOpensPortOneAndSendsSupervisionThenPolls) {
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(port_.comm_port(), 1);
  EXPECT_EQ(port_.settings(), "9600,N,8,1");
  EXPECT_TRUE(port_.handshaking_none());
  EXPECT_EQ(port_.writes(),
            (std::vector<Bytes>{Hex("02 01 10 0A 13 03"), Hex("02 01 11 00 A9 03")}));
  EXPECT_EQ(f.ConnectCB.caption(), "Disconnection");
  EXPECT_FALSE(f.ComPort_CB.enabled());
  EXPECT_FALSE(f.BaudRate_CB.enabled());
  for (int r = 0; r < 12; ++r)
    EXPECT_TRUE(f.Trigger_CheckBox[r].enabled());
  EXPECT_TRUE(f.EMG_CB.enabled());
  Ticks(1);
  ASSERT_EQ(port_.writes().size(), 3u);
  EXPECT_EQ(port_.writes()[2], Hex("02 01 06 00 2B 03"));
  EXPECT_FALSE(std::filesystem::exists(IniPath())) << "unchanged settings are not saved";
}

TEST_F(FormTest, FailedOpenShowsTheMessageAndStaysDisconnected) {
  port_.set_refuse_open(true);
  MainForm& f = Load();
  f.ComPort_CB.SetListIndex(4);  // a port change is not saved when the connect fails
  f.ConnectCB.PerformClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Com Port Fail!");
  EXPECT_EQ(messages_[0].caption, "Orvandel Program");
  EXPECT_EQ(messages_[0].icon, MessageIcon::kStop);
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_FALSE(f.shared().PortConnected);
  for (int r = 0; r < 12; ++r)
    EXPECT_FALSE(f.Trigger_CheckBox[r].enabled());
  EXPECT_FALSE(f.Transmission_CommandButton.enabled());
  Ticks(30);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

TEST_F(FormTest, ConnectAfterPickingCom3SavesTheSerialKeysOnceInOrder) {
  MainForm& f = Load();
  f.ComPort_CB.SetListIndex(2);
  EXPECT_TRUE(f.serial_settings_changed());
  f.ConnectCB.PerformClick();
  EXPECT_EQ(port_.comm_port(), 3);
  const std::string saved = ReadBytes(IniPath());
  EXPECT_EQ(saved,
            "[RS232Configure]\r\nComPort=3\r\nBaudRate=9600\r\nCheckBit=None\r\nBitLength=8\r\n"
            "StopBit=1\r\n");
  EXPECT_FALSE(f.serial_settings_changed());
  std::filesystem::remove(IniPath());
  f.Form_Unload();
  EXPECT_FALSE(std::filesystem::exists(IniPath())) << "closing must not save again";
}

TEST_F(FormTest, DisconnectDarkensSystemLampsOnlyAndStopsPolling) {
  MainForm& f = Load();
  ConnectAndClear();
  port_.Deliver(EncodeFrame(6, Bytes{0xFF, 0x0F}));
  Ticks(1);
  f.Shape1[12].SetFillStyle(Shape::kSolid);  // zone lamps are left as they are
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(f.Shape1[i].fill_style(), Shape::kSolid);
  f.ConnectCB.PerformClick();
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(f.Shape1[i].fill_style(), Shape::kTransparent);
  EXPECT_EQ(f.Shape1[12].fill_style(), Shape::kSolid);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled());
  EXPECT_FALSE(f.BaudRate_CB.enabled());
  EXPECT_FALSE(f.EMG_CB.enabled());
  port_.ClearWrites();
  Ticks(50);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
}

TEST_F(FormTest, DisconnectWhileThePortAlreadyReportsClosedOnlyStopsPolling) {
  MainForm& f = Load();
  ConnectAndClear();
  port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
  Ticks(1);
  port_.set_open_state(false);
  f.ConnectCB.PerformClick();
  EXPECT_TRUE(f.shared().PortConnected);
  EXPECT_EQ(f.ConnectCB.caption(), "Disconnection");
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kSolid);
  EXPECT_EQ(f.link().scheduler().poll_step(), 0);
}

TEST_F(FormTest, ReconnectRestartsAtTheFaultImageButKeepsTheRotation) {
  MainForm& f = Load();
  ConnectAndClear();
  Ticks(23);  // slots at ticks 1, 12, 23: 6, 8, 9
  ASSERT_EQ(port_.writes().size(), 3u);
  f.ConnectCB.PerformClick();
  f.ConnectCB.PerformClick();
  port_.ClearWrites();
  Ticks(33);  // the slot delay carries over too: the first poll comes 11 ticks later
  std::vector<int> commands;
  for (const Bytes& w : port_.writes())
    commands.push_back(w[2]);
  EXPECT_EQ(commands, (std::vector<int>{6, 8, 7}));
}

TEST_F(FormTest, ParityWordGivesItsFirstLetterInTheLineSettings) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), "[RS232Configure]\r\nCheckBit=even\r\nBaudRate=19200\r\n");
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  EXPECT_EQ(port_.settings(), "19200,e,8,1");
}

TEST_F(FormTest, OpeningEmptiesTheReceiveRing) {
  MainForm& f = Load();
  port_.Open();  // bytes that came before the connect are thrown away
  port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
  port_.Close();
  f.ConnectCB.PerformClick();
  Ticks(1);
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kTransparent);
}

}  // namespace
}  // namespace orv
