#pragma once

// What the program takes from its module (orvandel-extras.so), one small interface per
// capability: every part that needs Qt Network, Qt HTTP Server, Qt WebSockets, Qt Multimedia or
// Qt Print Support, so that the plain window starts without loading them. The module carries
// only the rooms the program does not link and binds to the program's own for the rest (one copy
// of each room, app/CMakeLists.txt); it is loaded only when its build id is the program's
// (platform/module_loader.h). Each capability is one extern "C" symbol of the module, named in
// its interface, that gives the module's one instance of it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "access/access_gate.h"
#include "annunciator/sound_output.h"
#include "mqtt/broker_state.h"
#include "mqtt/mqtt_settings.h"
#include "mqtt/publisher.h"
#include "netport/network_serial_port.h"
#include "panelstate/panel_core.h"
#include "platform/notice.h"
#include "platform/serial_port.h"
#include "service/service_settings.h"
#include "web/web_settings.h"

class QWidget;

namespace orv {

// A serial device server on the network (raw TCP or RFC 2217).
class NetworkPorts {
 public:
  static constexpr const char* kSymbol = "orv_network_ports";
  virtual ~NetworkPorts() = default;
  virtual std::unique_ptr<NetworkSerialPort> MakeNetworkPort() = 0;
};

// The window's sounder on the desktop's sound output.
class Sounders {
 public:
  static constexpr const char* kSymbol = "orv_sounders";
  virtual ~Sounders() = default;
  virtual std::unique_ptr<SoundOutput> MakeSoundOutput() = 0;
};

// The journal's history window, made when first asked for.
class HistoryView {
 public:
  virtual ~HistoryView() = default;
  virtual void Show() = 0;
  // A commit the window shows if it is open.
  virtual void OnCommitted(std::int64_t sequence) = 0;
  // A button of the program's beside the window's own (the shift handover's).
  virtual void AddButton(const std::string& text, std::function<void()> clicked) = 0;
};

class HistoryWindows {
 public:
  static constexpr const char* kSymbol = "orv_history_windows";
  virtual ~HistoryWindows() = default;
  // The history of the journal in file, a window of its own over parent.
  virtual std::unique_ptr<HistoryView> MakeHistoryView(const std::filesystem::path& file,
                                                       QWidget* parent) = 0;
};

// Something the program's tick drives: the broker's client, the web panel.
class TickedService {
 public:
  virtual ~TickedService() = default;
  virtual void Tick() = 0;
};

class BrokerClients {
 public:
  static constexpr const char* kSymbol = "orv_broker_clients";
  virtual ~BrokerClients() = default;
  // The broker's client, started now, handed the publisher's messages at every tick.
  virtual std::unique_ptr<TickedService> StartBrokerClient(
      const MqttSettings& settings, const std::string& client_id, MqttPublisher& publisher,
      std::function<void(const BrokerState&)> on_state) = 0;
};

class WebPanels {
 public:
  static constexpr const char* kSymbol = "orv_web_panels";
  virtual ~WebPanels() = default;
  // The web panel on the panel that holds the line; nullptr with the reason in error when it
  // cannot listen.
  virtual std::unique_ptr<TickedService> StartWebPanel(PanelCore& panel,
                                                       const WebPanelSettings& settings,
                                                       AccessGate& gate, NoticeFn notice,
                                                       std::string& error) = 0;
};

class AttachedWindows {
 public:
  static constexpr const char* kSymbol = "orv_attached_windows";
  virtual ~AttachedWindows() = default;
  // The window attached to the service at socket, until it is closed: the exit status.
  virtual int RunAttachedWindow(const std::string& socket) = 0;
};

// The site's service: the program without a window (service/qt), started by app/service_start.
class Service {
 public:
  static constexpr const char* kSymbol = "orv_service";
  virtual ~Service() = default;
  // Until SIGTERM or SIGINT: the exit status.
  // The panel is made, not yet loaded; notice is where its notices go.
  virtual int RunHeadlessService(PanelCore& panel, SerialPort& port, NoticeFn notice,
                                 int port_for_this_run, const ServiceSettings& settings,
                                 const std::function<void(const std::string&)>& print,
                                 const std::string& attach_socket, AccessGate& gate) = 0;
  // --notify-test: the exit status.
  virtual int RunNotifyTest(const NotifySettings& settings, const std::string& rule,
                            const std::function<void(const std::string&)>& print) = 0;
};

}  // namespace orv
