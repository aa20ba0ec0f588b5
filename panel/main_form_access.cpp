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
  for (const RefusalRecord& record : records) {
    // Like the records of the origin's actions: its Unix user or web peer in the login column.
    std::string previous = recorder_.acting_login();
    if (std::string login = OriginLogin(record.origin); !login.empty())
      recorder_.set_acting_login(std::move(login));
    Record(JournalKind::kOperator, record.text);
    recorder_.set_acting_login(std::move(previous));
  }
}

bool MainForm::Guarded(Action action, const std::function<void()>& act,
                       const std::function<void()>& revert) {
  if (reverting_) return false;
  if (env_.gate == nullptr || !loaded_ || acting_) {
    act();
    return true;
  }
  const Decision decision = env_.gate->Decide(kWindowOrigin, action, AccessNow());
  if (decision.allowed) {
    ActAs(decision, act);
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
  if (!decision.too_fast) login_wanted_();
  return false;
}

void MainForm::ActAs(const Decision& decision, const std::function<void()>& act) {
  const bool was_acting = std::exchange(acting_, true);
  std::string previous = recorder_.acting_operator();
  recorder_.set_acting_operator(ActorText(decision));
  act();
  recorder_.set_acting_operator(std::move(previous));
  acting_ = was_acting;
}

void MainForm::Touch() {
  if (env_.gate != nullptr) env_.gate->Touch(kWindowOrigin, AccessNow());
}

}  // namespace orv
