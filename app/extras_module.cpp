// The program's module (orvandel-extras.so): the parts that need Qt Network, Qt HTTP Server,
// Qt WebSockets, Qt Multimedia or Qt Print Support, handed to the program behind the plain
// interfaces of app/extras.h. Loaded after the window's first paint, or before it where the start
// needs the network (a line on a network port, an attached window, the headless service).
#include <QPointer>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "annunciator/qt/qt_sound_output.h"
#include "app/extras.h"
#include "attach/qt/qt_attached_window.h"
#include "journal/qt/qt_history_window.h"
#include "mqtt/qt/qt_mqtt_client.h"
#include "netport/qt/qt_tcp_serial_port.h"
#include "service/qt/qt_headless_service.h"
#include "service/qt/web_panel_service.h"

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
  WebPanel(MainForm& form, const WebPanelSettings& settings, AccessGate& gate, NoticeFn notice)
      : service_(form, ServiceLine{[](const Actor&) {}, [](const Actor&) {}}, settings, gate,
                 std::move(notice)) {}
  bool Start(std::string& error) { return service_.Start(error); }
  void Tick() override { service_.Tick(); }

 private:
  WebPanelService service_;
};

class ModuleExtras final : public Extras {
 public:
  std::unique_ptr<NetworkSerialPort> MakeNetworkPort() override {
    return std::make_unique<QtTcpSerialPort>();
  }
  std::unique_ptr<SoundOutput> MakeSoundOutput() override {
    return std::make_unique<QtSoundOutput>();
  }
  std::unique_ptr<HistoryView> MakeHistoryView(const std::filesystem::path& file,
                                               QWidget* parent) override {
    return std::make_unique<HistoryWindowView>(file, parent);
  }
  std::unique_ptr<TickedService> StartBrokerClient(
      const MqttSettings& settings, const std::string& client_id, MqttPublisher& publisher,
      std::function<void(const BrokerState&)> on_state) override {
    return std::make_unique<BrokerClient>(settings, client_id, publisher, std::move(on_state));
  }
  std::unique_ptr<TickedService> StartWebPanel(MainForm& form, const WebPanelSettings& settings,
                                               AccessGate& gate, NoticeFn notice,
                                               std::string& error) override {
    auto panel = std::make_unique<WebPanel>(form, settings, gate, std::move(notice));
    if (!panel->Start(error)) return nullptr;
    return panel;
  }
  int RunAttachedWindow(const std::string& socket) override { return RunQtAttachedWindow(socket); }
  int RunHeadlessService(SerialPort& port, MainFormEnvironment env, int port_for_this_run,
                         const MqttSettings& mqtt_settings,
                         const std::function<void(const std::string&)>& print,
                         const std::string& attach_socket, const WebPanelSettings& web,
                         AccessGate& gate) override {
    const NoticeFn notice = env.notice;
    MainForm form(std::move(env));
    return RunQtHeadlessService(form, port, notice, port_for_this_run, mqtt_settings, print,
                                attach_socket, web, gate);
  }
};

}  // namespace
}  // namespace orv

// The one symbol the module shows: its Extras for a program of the same build, else nullptr.
extern "C" __attribute__((visibility("default"))) orv::Extras* orv_extras(const char* version) {
  if (version == nullptr || std::strcmp(version, ORV_EXTRAS_VERSION) != 0) return nullptr;
  return new orv::ModuleExtras;
}
