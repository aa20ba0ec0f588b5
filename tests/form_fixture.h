#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/frame.h"
#include "panel/main_form.h"
#include "platform/notice_log.h"
#include "tests/support/fake_serial_port.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv::test {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon;
};

// A headless main window over a fake port, in its own program folder, with a settable clock.
class FormTest : public ::testing::Test {
 protected:
  // Builds the window and runs its start-up; a test may prepare files first.
  MainForm& Load() {
    form_ = std::make_unique<MainForm>(MainFormEnvironment{
        port_,
        program_folder_,
        [this](const std::string& text, const std::string& caption, MessageIcon icon) {
          messages_.push_back({text, caption, icon});
        },
        [this] { return now_; },
        notice_log_.Sink([this](const Notice& notice) { notices_.push_back(notice); }),
        keep_journal_,
        journal_options_,
        site_settings_file_,
        {},
        gate_,
        [this] { return access_now_; }});
    form_->Form_Load();
    return *form_;
  }
  MainForm& form() { return *form_; }

  void Ticks(int n) {
    for (int i = 0; i < n; ++i)
      form_->TRTimer_Timer();
  }
  // Connects through the real button and forgets the frames written so far.
  void ConnectAndClear() {
    form_->ConnectCB.PerformClick();
    ASSERT_TRUE(form_->link().port_connected());
    port_.ClearWrites();
  }
  // Renames a row's trigger as the operator does: double click, type, click the bank.
  void Rename(int row, const std::string& name) {
    form_->TriggerLabel[row].PerformDblClick();
    form_->TriggerNameText[row].SetText(name);
    form_->focus.MoveFocus(&form_->Trigger_PictureBox);
  }
  // Queues an event report ("32 00 41": code, data high, data low) or a fault image.
  void Report(const char* payload) { port_.Deliver(EncodeFrame(cmd::kReport, test::Hex(payload))); }
  void Image(const char* payload) {
    port_.Deliver(EncodeFrame(cmd::kFaultImage, test::Hex(payload)));
  }
  // A "1" for every lit lamp of the 24, in lamp order.
  std::string Lamps() const {
    std::string lit;
    for (int i = 0; i < 24; ++i)
      lit += form_->Shape1[i].fill_style() == Shape::kSolid ? '1' : '0';
    return lit;
  }
  std::filesystem::path IniPath() const { return program_folder_ / "SYSINI" / "MainForm.INI"; }
  std::filesystem::path LogPath() const { return program_folder_ / "DATA" / "EventLog.txt"; }
  std::filesystem::path JournalPath() const { return LogPath().parent_path() / Journal::kFileName; }

  TempFolder temp_;
  std::filesystem::path program_folder_ = temp_.path();
  FakeSerialPort port_;
  std::vector<ShownMessage> messages_;
  std::vector<Notice> notices_;
  LocalDateTime now_{12, 4, 5, 21};
  // The same notices, as the program's window shows them.
  NoticeLog notice_log_{[this] { return now_; }};
  // Tests of EventLog.txt alone on a small disk turn the journal off: it would share the disk.
  bool keep_journal_ = true;
  JournalOptions journal_options_;
  // None: the program's own MainForm.INI alone decides the site-wide settings.
  std::filesystem::path site_settings_file_ = temp_.path() / "no-site-settings.ini";
  // None: access levels off.
  AccessGate* gate_ = nullptr;
  AccessClock::time_point access_now_{};
  std::unique_ptr<MainForm> form_;
};

}  // namespace orv::test
