// The program's module (orvandel-extras.so): the parts that need Qt Network, Qt HTTP Server,
// Qt WebSockets, Qt Multimedia or Qt Print Support, handed to the program by capability behind
// the plain interfaces of app/module_capabilities.h. Loaded after the window's first paint, or
// before it where the start needs the network (a line on a network port, an attached window, the
// service).
#include <QPointer>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "annunciator/qt/qt_sound_output.h"
#include "app/module_capabilities.h"
#include "attach/qt/qt_attached_window.h"
#include "journal/qt/qt_history_window.h"
#include "mqtt/qt/qt_mqtt_client.h"
#include "netport/qt/qt_tcp_serial_port.h"
#include "notify/qt/qt_notify_test.h"
#include "orv_build_id.h"
#include "platform/module_loader.h"
#include "service/qt/qt_headless_service.h"
#include "service/qt/web_panel_service.h"

// Read by the program's loader before this module is loaded: it must be the program's.
ORV_MODULE_BUILD_ID(ORV_BUILD_ID);

namespace orv {
namespace {

class HistoryWindowView final : public HistoryView {
 public:
  // Qt's parent owns the window; this only speaks to it while it exists.
  HistoryWindowView(const std::filesystem::path& file, QWidget* parent)
      : window_(new QtHistoryWindow(file, parent)) {}

  void Show() override {
    if (window_.isNull()) return;
    window_->show();
    window_->raise();
    window_->activateWindow();
  }
  void OnCommitted(std::int64_t sequence) override {
    if (!window_.isNull()) window_->OnCommitted(sequence);
  }
  void AddButton(const std::string& text, std::function<void()> clicked) override {
    if (!window_.isNull()) window_->AddButton(QString::fromStdString(text), std::move(clicked));
  }

 private:
  QPointer<QtHistoryWindow> window_;
};

class BrokerClient final : public TickedService {
 public:
  BrokerClient(const MqttSettings& settings, const std::string& client_id, MqttPublisher& publisher,
               std::function<void(const BrokerState&)> on_state)
      : client_(settings, client_id, publisher, std::move(on_state)) {
    client_.Start();
  }
  void Tick() override { client_.Pump(); }

 private:
  QtMqttClient client_;
};

class WebPanel final : public TickedService {
 public:
  // The web asks for keys and Silence only, never for the line: that stays the window's.
  WebPanel(PanelCore& panel, const WebPanelSettings& settings, AccessGate& gate, NoticeFn notice)
      : service_(panel, ServiceLine{[](const Actor&) {}, [](const Actor&) {}}, settings, gate,
                 std::move(notice)) {}
  bool Start(std::string& error) { return service_.Start(error); }
  void Tick() override { service_.Tick(); }

 private:
  WebPanelService service_;
};

class TcpPorts final : public NetworkPorts {
 public:
  std::unique_ptr<NetworkSerialPort> MakeNetworkPort() override {
    return std::make_unique<QtTcpSerialPort>();
  }
};

class MultimediaSounders final : public Sounders {
 public:
  std::unique_ptr<SoundOutput> MakeSoundOutput() override {
    return std::make_unique<QtSoundOutput>();
  }
};

class HistoryWindowsOfJournal final : public HistoryWindows {
 public:
  std::unique_ptr<HistoryView> MakeHistoryView(const std::filesystem::path& file,
                                               QWidget* parent) override {
    return std::make_unique<HistoryWindowView>(file, parent);
  }
};

class QtBrokerClients final : public BrokerClients {
 public:
  std::unique_ptr<TickedService> StartBrokerClient(
      const MqttSettings& settings, const std::string& client_id, MqttPublisher& publisher,
      std::function<void(const BrokerState&)> on_state) override {
    return std::make_unique<BrokerClient>(settings, client_id, publisher, std::move(on_state));
  }
};

class QtWebPanels final : public WebPanels {
 public:
  std::unique_ptr<TickedService> StartWebPanel(PanelCore& panel, const WebPanelSettings& settings,
                                               AccessGate& gate, NoticeFn notice,
                                               std::string& error) override {
    auto web = std::make_unique<WebPanel>(panel, settings, gate, std::move(notice));
    if (!web->Start(error)) return nullptr;
    return web;
  }
};

class QtAttachedWindows final : public AttachedWindows {
 public:
  int RunAttachedWindow(const std::string& socket) override { return RunQtAttachedWindow(socket); }
};

class QtService final : public Service {
 public:
  int RunHeadlessService(PanelCore& panel, SerialPort& port, NoticeFn notice, int port_for_this_run,
                         const ServiceSettings& settings,
                         const std::function<void(const std::string&)>& print,
                         const std::string& attach_socket, AccessGate& gate) override {
    return RunQtHeadlessService(panel, port, std::move(notice), port_for_this_run, settings, print,
                                attach_socket, gate);
  }
  int RunNotifyTest(const NotifySettings& settings, const std::string& rule,
                    const std::function<void(const std::string&)>& print) override {
    return RunQtNotifyTest(settings, rule, print);
  }
};

// The one instance of Implementation, as its interface Capability, for the program's lifetime.
template <class Capability, class Implementation>
void* Instance() {
  static Implementation instance;
  return static_cast<Capability*>(&instance);
}

}  // namespace
}  // namespace orv

// The module's capabilities, one symbol each (module_capabilities.h names them).
#define ORV_CAPABILITY(Capability, Implementation, symbol)           \
  extern "C" __attribute__((visibility("default"))) void* symbol() { \
    return orv::Instance<orv::Capability, orv::Implementation>();    \
  }                                                                  \
  static_assert(std::string_view(orv::Capability::kSymbol) == #symbol)
ORV_CAPABILITY(NetworkPorts, TcpPorts, orv_network_ports);
ORV_CAPABILITY(Sounders, MultimediaSounders, orv_sounders);
ORV_CAPABILITY(HistoryWindows, HistoryWindowsOfJournal, orv_history_windows);
ORV_CAPABILITY(BrokerClients, QtBrokerClients, orv_broker_clients);
ORV_CAPABILITY(WebPanels, QtWebPanels, orv_web_panels);
ORV_CAPABILITY(AttachedWindows, QtAttachedWindows, orv_attached_windows);
ORV_CAPABILITY(Service, QtService, orv_service);
