// The conditions an operator must see, fed from the panel: the alarm reports and the
// controller's reset, the lamps and the link from the state, the sounder from the annunciator.
// A shelf quiets its condition's sound; the reminders and the ends are recorded and said.
#include "annunciator/annunciator.h"
#include "events/event_decoder.h"
#include "panel/main_form.h"

namespace orv {

void MainForm::WireConditions() {
  connections_.push_back(
      link_.dispatcher().event_report().Connect([this](std::uint8_t code, std::int32_t) {
        switch (code) {
          case Annunciator::kEmgReport:
          case Annunciator::kAlertReport:
          case Annunciator::kAlarmReport:
          case Annunciator::kEmgPttReport:
            conditions_.Alarm(EventWord(code), recorder_.Now().utc_ms);
            break;
          case kEmgResetEventCode:
            conditions_.AlarmsReset();
            break;
          default:
            break;
        }
      }));
}

void MainForm::TickConditions(PanelState& state) {
  const std::int64_t now = recorder_.Now().utc_ms;
  conditions_.Update(state, now);
  conditions_.Set(ConditionKind::kSounder, "Sounder unavailable",
                  annunciation_.sounder_unavailable(), now);
  std::vector<ConditionNews> news;
  conditions_.Tick(now, news);
  for (const ConditionNews& said : news) {
    Record(JournalKind::kOperator, said.text, Actor{});
    Notify(said.kind == ConditionNews::Kind::kReminder ? NoticeLevel::kWarning : NoticeLevel::kInfo,
           said.text);
  }
  state.conditions = conditions_.Ordered();
}

}  // namespace orv
