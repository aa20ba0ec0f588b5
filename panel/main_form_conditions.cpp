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

std::string MainForm::ConditionActor(const Actor& by) const {
  if (!by.operator_name.empty()) return by.operator_name;
  return by.origin.kind == OriginKind::kWindow ? recorder_.login() : OriginLogin(by.origin);
}

void MainForm::RecordConditionNews(const std::vector<ConditionNews>& news, const Actor& by) {
  for (const ConditionNews& said : news) {
    Record(JournalKind::kOperator, said.text, by);
    // A shelf about to end is heard once, as well as said.
    if (said.kind == ConditionNews::Kind::kReminder)
      annunciation_.annunciator().Remind(said.text, annunciation_.Now());
    Notify(said.kind == ConditionNews::Kind::kReminder ? NoticeLevel::kWarning : NoticeLevel::kInfo,
           said.text);
  }
}

std::string MainForm::AcknowledgeCondition(const std::string& id, const std::string& comment,
                                           const Actor& by) {
  std::vector<ConditionNews> news;
  const std::string result =
      conditions_.Acknowledge(id, ConditionActor(by), comment, recorder_.Now().utc_ms, news);
  RecordConditionNews(news, by);
  return result;
}

std::string MainForm::ShelveCondition(const std::string& id, const std::string& reason,
                                      std::int64_t until_ms, const Actor& by) {
  std::vector<ConditionNews> news;
  const std::string result =
      conditions_.Shelve(id, ConditionActor(by), reason, until_ms, recorder_.Now().utc_ms, news);
  RecordConditionNews(news, by);
  return result;
}

void MainForm::AcknowledgeFromWindow(const std::string& id, const std::string& comment) {
  Guarded(Action::kAcknowledge, [&](const Actor& by) {
    if (const std::string result = AcknowledgeCondition(id, comment, by); result != kResultDone)
      Notify(NoticeLevel::kWarning, std::string(ActionName(Action::kAcknowledge)) + " " + result);
  });
}

void MainForm::ShelveFromWindow(const std::string& id, const std::string& reason, int minutes) {
  Guarded(Action::kShelve, [&](const Actor& by) {
    const std::int64_t until = recorder_.Now().utc_ms + std::int64_t{minutes} * 60'000;
    if (const std::string result = ShelveCondition(id, reason, until, by); result != kResultDone)
      Notify(NoticeLevel::kWarning, std::string(ActionName(Action::kShelve)) + " " + result);
  });
}

void MainForm::TickConditions(PanelState& state) {
  const std::int64_t now = recorder_.Now().utc_ms;
  conditions_.Update(state, now);
  conditions_.Set(ConditionKind::kSounder, "Sounder unavailable",
                  annunciation_.sounder_unavailable(), now);
  std::vector<ConditionNews> news;
  conditions_.Tick(now, news);
  RecordConditionNews(news, Actor{});
  state.conditions = conditions_.Ordered();
}

}  // namespace orv
