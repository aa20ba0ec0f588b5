#pragma once

#include <memory>
#include <string>

#include "access/access_gate.h"
#include "panelstate/panel_core.h"
#include "platform/signal.h"
#include "web/qt/qt_web_server.h"
#include "web/web_settings.h"

namespace orv {

// The web panel of the program that holds the line: the panel's state read every tick, the
// journal's records as they are committed, and the actions performed through the one gate from the
// web peer's origin.
class WebPanelService {
 public:
  WebPanelService(PanelCore& panel, ServiceLine line, const WebPanelSettings& settings,
                  AccessGate& gate, NoticeFn notice);

  // Listens when the settings name an address; false with the reason when it cannot.
  bool Start(std::string& error);
  void Tick();
  const QtWebServer* server() const { return server_.get(); }

 private:
  PanelCore& panel_;
  std::unique_ptr<ActionPerformer> actions_;
  AccessGate& gate_;
  std::unique_ptr<QtWebServer> server_;
  Connection committed_;
};

}  // namespace orv
