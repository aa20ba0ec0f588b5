// Opening and closing the serial line, and the window's connected and disconnected looks.
#include "config/site_settings.h"
#include "journal/journal_retention.h"
#include "panel/main_form.h"

namespace orv {

void MainForm::ReloadSiteSettings() {
  site_settings_kept_ = false;
  if (link_.port_connected()) {
    link_.watch().set_no_reply_seconds(config_.NoReplySeconds());
    line_watcher_.Refresh();
  }
  LoadAnnunciationSettings();
  LoadJournalRetention();
}

// Site-wide: read at the start and at every reload.
void MainForm::LoadJournalRetention() {
  Journal* journal = recorder_.journal();
  if (journal == nullptr) return;
  constexpr std::size_t kCapacity = 32;
  const SiteSettings site(config_.ConfigFile(), env_.notice, env_.site_settings_file,
                          SiteSettings::FileNotices::kLeaveToOthers);
  journal->set_retention(ReadJournalRetention(
      [&site](std::string_view key) { return site.Read("Journal", key, kCapacity); }));
}

void MainForm::ConnectCB_Click(const Actor& by) {
  if (link_.port_connected()) {
    link_.scheduler().set_poll_step(PollScheduler::kIdle);
    // A port that already reports itself closed leaves the connected look as it is.
    if (env_.port.IsOpen()) {
      CloseSerialPort();
      link_.SetPortConnected(false);
      DarkenFaultLamps();
      Record(JournalKind::kLink, "Disconnected: " + PortDescription(), by);
    }
  } else if (!env_.port.IsOpen()) {
    if (OpenSerialPort()) {
      link_.SetPortConnected(true);
      if (!site_settings_kept_) {
        link_.watch().set_no_reply_seconds(config_.NoReplySeconds());
        LoadAnnunciationSettings();
      }
      line_watcher_.Refresh();
      if (SerialSettingsChanged) {
        config_.SaveConfigGroup("RS232Config");
        SerialSettingsChanged = false;
      }
      link_.scheduler().set_poll_step(PollScheduler::kFaultImageStep);
      Record(JournalKind::kLink, "Connected: " + PortDescription(), by);
      commands_.SendSupervisionSettings(by);
    } else {
      for (int i = 0; i < 12; ++i)
        Trigger_CheckBox[i].SetEnabled(false);
      const PortError error = env_.port.last_error();
      const std::string why = std::string(PortErrorKindText(error.kind)) +
                              (error.text.empty() ? "" : " (" + error.text + ")");
      Notify(NoticeLevel::kError,
             "COM" + std::to_string(config_.SerialComPort) + " cannot be opened: " + why);
      Record(JournalKind::kLink, "Com Port Fail!: " + PortDescription() + ": " + why, by);
      if (env_.message_box) env_.message_box("Com Port Fail!", kProgramTitle, MessageIcon::kStop);
    }
  }
  UpdateConnectionControls();
}

bool MainForm::OpenSerialPort() {
  bool result = false;
  if (link_.port_connected()) CloseSerialPort();
  env_.port.SetCommPort(config_.SerialComPort);
  env_.port.SetHandshakingNone();
  env_.port.SetSettings(LineSettingsText());
  env_.port.Open();
  link_.receiver().ResetRing();
  if (env_.port.IsOpen()) {
    result = true;
    link_.SetPortConnected(true);
  }
  return result;
}

void MainForm::CloseSerialPort() {
  if (env_.port.IsOpen()) env_.port.Close();
  link_.SetPortConnected(false);
}

void MainForm::UsePortForThisRun(int port_number) {
  if (SerialSettingsChanged) {
    config_.SaveConfigGroup("RS232Config");
    SerialSettingsChanged = false;
  }
  config_.SerialComPort = static_cast<std::uint8_t>(port_number);
}

void MainForm::ComPort_CB_Click() {
  config_.SerialComPort = static_cast<std::uint8_t>(ComPort_CB.list_index() + 1);
  SerialSettingsChanged = true;
}

void MainForm::BaudRate_CB_Click() {
  config_.SerialBaudRate = BaudRate_CB.text();
  SerialSettingsChanged = true;
}

void MainForm::UpdateConnectionControls() {
  ShowConnected(link_.port_connected());
}

void MainForm::ShowFaultLamps(FaultLamps lamps) {
  controller_lamps_ = lamps;
  // Only the twelve system lamps; the zone lamps after them are never touched.
  for (int i = 0; i < kSystemLamps; ++i)
    annunciation_.ShowLamp(i, lamps[static_cast<std::size_t>(i)]);
}

void MainForm::DarkenFaultLamps() {
  ShowFaultLamps(FaultLamps{});
}

}  // namespace orv
