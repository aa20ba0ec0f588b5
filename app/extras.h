#pragma once

// What the program takes from its module (orvandel-extras.so): every part that needs Qt Network,
// Qt HTTP Server, Qt WebSockets, Qt Multimedia or Qt Print Support, so that the plain window
// starts without loading them. The boundary is plain C++ interfaces of the rooms below and one
// extern "C" factory; no Qt signal crosses it, since the module has its own copies of the
// rooms' classes.

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
#include "panel/main_form.h"
#include "platform/notice.h"
#include "web/web_settings.h"

class QWidget;

namespace orv {

// The journal's history window, made when first asked for.
class HistoryView {
 public:
  virtual ~HistoryView() = default;
  virtual void Show() = 0;
  // A commit the window shows if it is open.
  virtual void OnCommitted(std::int64_t sequence) = 0;
};

// Something the program's tick drives: the broker's client, the web panel.
class TickedService {
 public:
  virtual ~TickedService() = default;
  virtual void Tick() = 0;
};

class Extras {
 public:
  virtual ~Extras() = default;
  // A serial device server on the network (raw TCP or RFC 2217).
  virtual std::unique_ptr<NetworkSerialPort> MakeNetworkPort() = 0;
  // The window's sounder on the desktop's sound output.
  virtual std::unique_ptr<SoundOutput> MakeSoundOutput() = 0;
  // The history of the journal in file, a window of its own over parent.
  virtual std::unique_ptr<HistoryView> MakeHistoryView(const std::filesystem::path& file,
                                                       QWidget* parent) = 0;
  // The broker's client, started now, handed the publisher's messages at every tick.
  virtual std::unique_ptr<TickedService> StartBrokerClient(
      const MqttSettings& settings, const std::string& client_id, MqttPublisher& publisher,
      std::function<void(const BrokerState&)> on_state) = 0;
  // The web panel on the window's model; nullptr with the reason in error when it cannot listen.
  virtual std::unique_ptr<TickedService> StartWebPanel(MainForm& form,
                                                       const WebPanelSettings& settings,
                                                       AccessGate& gate, NoticeFn notice,
                                                       std::string& error) = 0;
  // The window attached to the service at socket, until it is closed: the exit status.
  virtual int RunAttachedWindow(const std::string& socket) = 0;
  // The program without a window, until SIGTERM or SIGINT: the exit status.
  virtual int RunHeadlessService(SerialPort& port, MainFormEnvironment env, int port_for_this_run,
                                 const MqttSettings& mqtt_settings,
                                 const std::function<void(const std::string&)>& print,
                                 const std::string& attach_socket, const WebPanelSettings& web,
                                 AccessGate& gate) = 0;
};

// The module's one export: its Extras, made once, when the program was built from the same
// sources (version), else nullptr.
inline constexpr const char* kExtrasFactory = "orv_extras";
using ExtrasFactory = Extras* (*)(const char* version);

}  // namespace orv
