#include "service/qt/web_panel_service.h"

namespace orv {
namespace {

// The gate's name for what the web panel may ask for: its keys and Silence.
Action GateAction(const ActionRequest& action) {
  static constexpr Action kKeys[] = {Action::kEmg,      Action::kEmgAck,     Action::kEmgReset,
                                     Action::kFaultAck, Action::kFaultReset, Action::kEmgMessage};
  if (action.kind == ActionKind::kKey && action.key >= 1 && action.key <= 6)
    return kKeys[action.key - 1];
  if (action.kind == ActionKind::kSilence) return Action::kSilence;
  if (action.kind == ActionKind::kLampTest) return Action::kLampTest;
  return Action::kConnection;  // nothing else comes from the web; the highest level if it did
}

std::string AccessRecordText(const AccessEvent& event) {
  const std::string who = event.operator_name + ", from " + OriginText(event.origin);
  const std::string level = ", level " + std::to_string(LevelNumber(event.level));
  const std::string action = event.action ? std::string(ActionName(*event.action)) : "";
  switch (event.kind) {
    case AccessEventKind::kLogIn:
      return "Log in: " + who + level;
    case AccessEventKind::kLogOut:
      return "Log out: " + who;
    case AccessEventKind::kTimeout:
      return "Log out after the idle time: " + who;
    case AccessEventKind::kRefusedPin:
      return "Log in refused: " + who + " (" + event.text + ")";
    case AccessEventKind::kRefusedAction:
      return "Refused: " + action + " by " + who + " (" + event.text + ")";
    case AccessEventKind::kAction:
      return action + " by " + who + level;
  }
  return {};
}

}  // namespace

WebPanelService::WebPanelService(MainForm& form, ServiceLine line, const WebPanelSettings& settings,
                                 AccessGate& gate, NoticeFn notice)
    : form_(form), actions_(form, std::move(line)), gate_(gate) {
  if (!settings.enabled) return;
  QtWebServer::Hooks hooks;
  hooks.state = [this] { return ReadPanelState(form_); };
  hooks.perform = [this](const ActionRequest& action, const Origin& origin) {
    return Perform(action, origin);
  };
  hooks.gate = &gate_;
  if (Journal* journal = form_.journal()) hooks.journal = journal->file();
  server_ = std::make_unique<QtWebServer>(settings, std::move(hooks), std::move(notice));
  if (Journal* journal = form_.journal()) {
    committed_ = journal->committed().Connect(
        [this](std::int64_t sequence) { server_->Committed(sequence); });
  }
  // Every log in, log out, refusal and action of the web, with its peer, in the journal.
  access_events_ = gate_.events.Connect([this](const AccessEvent& event) {
    if (event.origin.kind != OriginKind::kWeb) return;
    form_.recorder().set_acting_login(event.operator_name);
    form_.recorder().Record(JournalKind::kOperator, AccessRecordText(event));
    form_.recorder().set_acting_login({});
  });
}

bool WebPanelService::Start(std::string& error) {
  return server_ == nullptr || server_->Listen(error);
}

void WebPanelService::Tick() {
  gate_.Tick(AccessClock::now());
  if (server_) server_->Tick();
}

std::string WebPanelService::Perform(const ActionRequest& action, const Origin& origin) {
  const Decision decision = gate_.Decide(origin, GateAction(action), AccessClock::now());
  if (!decision.allowed) return decision.text;
  return actions_.Perform(action, decision.operator_name);
}

}  // namespace orv
