#include "service/qt/web_panel_service.h"

namespace orv {
WebPanelService::WebPanelService(PanelCore& panel, ServiceLine line,
                                 const WebPanelSettings& settings, AccessGate& gate,
                                 NoticeFn notice)
    : panel_(panel), actions_(panel.MakeActions(std::move(line))), gate_(gate) {
  if (!settings.enabled) return;
  QtWebServer::Hooks hooks;
  hooks.state = [this] { return panel_.state_store().state(); };
  hooks.perform = [this](const ActionRequest& action, const Origin& origin,
                         AccessClock::time_point now) {
    return PerformAtGate(&gate_, *actions_, action, origin, now);
  };
  hooks.gate = &gate_;
  if (Journal* journal = panel_.journal()) hooks.journal = journal->file();
  server_ = std::make_unique<QtWebServer>(settings, std::move(hooks), std::move(notice));
  if (Journal* journal = panel_.journal()) {
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
