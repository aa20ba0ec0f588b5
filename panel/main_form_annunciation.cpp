// The annunciator's inputs from the panel: event reports, the fault lamps, the link watch, a lost
// port, the recording files; and the ACK keys, which also silence.
#include "config/site_settings.h"
#include "panel/main_form.h"

namespace orv {

void MainForm::WireAnnunciation() {
  auto keep = [this](Connection connection) { connections_.push_back(std::move(connection)); };
  keep(link_.dispatcher().event_report().Connect(
      [this](std::uint8_t kind, std::int32_t) { annunciation_.OnReport(kind); }));
  keep(link_.fault_lamps_changed().Connect(
      [this](FaultLamps lamps) { annunciation_.OnLamps(lamps); }));
  keep(env_.port.failed().Connect([this](const PortError&) {
    if (link_.port_connected()) annunciation_.OnPortLost();
  }));
  // The keys send their frames as before; the silence comes after, and sends nothing.
  const std::pair<PushButton*, bool> acks[] = {{&EMGAck_CB, true}, {&FaultAck_CB, false}};
  for (const auto& [key, alarm] : acks) {
    key->Click = [this, send = std::move(key->Click), alarm = alarm] {
      if (send) send();
      if (alarm) {
        annunciation_.SilenceAlarm(kSilenceFromEmgAck);
      } else {
        annunciation_.SilenceFault(kSilenceFromFaultAck);
      }
    };
  }
}

// Site-wide like the link watch, read at start and again at every connect.
void MainForm::LoadAnnunciationSettings() {
  constexpr std::size_t kCapacity = 256;
  const SiteSettings site(config_.ConfigFile(), env_.notice, env_.site_settings_file,
                          SiteSettings::FileNotices::kLeaveToOthers);
  annunciation_.set_settings(ReadAnnunciationSettings(
      [&site](std::string_view key) { return site.Read(kAnnunciationSection, key, kCapacity); }));
}

void MainForm::TickAnnunciation() {
  // What an operator set aside since the last tick neither sounds nor is remembered.
  annunciation_.annunciator().SetShelved(conditions_.ShelvedLamps(), conditions_.Shelved("link"),
                                         annunciation_.Now());
  const Journal* journal = recorder_.journal();
  annunciation_.Tick(link_.watch().lost(),
                     event_recorder_.waiting() > 0 || (journal != nullptr && journal->failing()));
}

}  // namespace orv
