// Access levels at the window: every operator action asks the program's one gate, refusals put
// the control back and ask for a log in, and the gate's events become journal records.
#include "panel/main_form.h"

namespace orv {

AccessClock::time_point MainForm::AccessNow() const {
  return env_.access_clock ? env_.access_clock() : AccessClock::now();
}

void MainForm::WireAccess() {
  if (env_.gate == nullptr) return;
  // Every log in, log out, timeout and refusal, of every origin, in this program's journal. An
  // allowed action is not recorded twice: its own record carries who did it.
  // Refusals go through the summary: a peer refused over and over makes a few records, not one
  // each.
  connections_.push_back(env_.gate->events.Connect([this](const AccessEvent& event) {
    if (event.kind == AccessEventKind::kAction) return;
    RecordAccess(refusals_.Take(event, AccessNow()));
  }));
}

void MainForm::RecordAccess(const std::vector<RefusalRecord>& records) {
  // Like the records of the origin's actions: its Unix user or web peer in the login column.
  for (const RefusalRecord& record : records)
    recorder_.Record(JournalKind::kOperator, record.text, {}, {}, OriginLogin(record.origin));
}

void MainForm::Record(JournalKind kind, std::string text, const Actor& by) {
  recorder_.Record(kind, std::move(text), {}, ActorText(by), OriginLogin(by.origin));
}

void MainForm::RecordRename(const TriggerRename& rename, const Actor& by) {
  Record(JournalKind::kOperator,
         "Renamed " +
             std::string(kTriggerPages[static_cast<std::size_t>(rename.page)].default_name_prefix) +
             std::to_string(rename.number) + ": \"" + rename.old_name + "\" to \"" +
             rename.new_name + "\"",
         by);
}

bool MainForm::Guarded(Action action, const std::function<void(const Actor&)>& act,
                       const std::function<void()>& revert) {
  if (reverting_) return false;
  if (in_act_) {
    act(*in_act_);
    return true;
  }
  Decision decision;
  decision.allowed = true;
  decision.actor.origin = kWindowOrigin;
  if (env_.gate != nullptr && loaded_)
    decision = env_.gate->Decide(kWindowOrigin, action, AccessNow());
  if (decision.allowed) {
    in_act_ = decision.actor;
    act(decision.actor);
    in_act_.reset();
    return true;
  }
  if (revert) {
    reverting_ = true;
    revert();
    reverting_ = false;
  }
  // Keys too fast are said once a burst, and a log-in would not help them.
  if (!decision.told_before)
    Notify(NoticeLevel::kWarning, std::string(ActionName(action)) + " " + decision.text);
  if (!decision.too_fast) login_wanted_(action);
  return false;
}

void MainForm::Quietly(const std::function<void()>& change) {
  const bool was = std::exchange(reverting_, true);
  change();
  reverting_ = was;
}

void MainForm::SetSupervision(bool on, const std::string& time, const Actor& by) {
  Quietly([&] {
    if (Timer_CB.enabled()) Timer_CB.SetText(time);
  });
  supervision_time_ = Timer_CB.text();
  if ((SupervisionCheck.value() > 0) == on) return;
  Quietly([&] { SupervisionCheck.SetValue(on ? 1 : 0); });
  commands_.SupervisionCheck_Click(by);
}

void MainForm::Touch() {
  if (env_.gate != nullptr) env_.gate->Touch(kWindowOrigin, AccessNow());
}

}  // namespace orv
