#include "service/qt/web_panel_service.h"

namespace orv {
WebPanelService::WebPanelService(MainForm& form, ServiceLine line, const WebPanelSettings& settings,
                                 AccessGate& gate, NoticeFn notice)
    : form_(form), actions_(form, std::move(line)), gate_(gate) {
  if (!settings.enabled) return;
  QtWebServer::Hooks hooks;
  hooks.state = [this] { return form_.state_store().state(); };
  hooks.perform = [this](const ActionRequest& action, const Origin& origin,
                         AccessClock::time_point now) {
    return PerformAtGate(&gate_, actions_, action, origin, now);
  };
  hooks.gate = &gate_;
  if (Journal* journal = form_.journal()) hooks.journal = journal->file();
  server_ = std::make_unique<QtWebServer>(settings, std::move(hooks), std::move(notice));
  if (Journal* journal = form_.journal()) {
    committed_ = journal->committed().Connect(
        [this](std::int64_t sequence) { server_->Committed(sequence); });
  }
}

bool WebPanelService::Start(std::string& error) {
  return server_ == nullptr || server_->Listen(error);
}

void WebPanelService::Tick() {
  if (server_) server_->Tick();
}

}  // namespace orv
