#include "service/qt/qt_headless_service.h"

#include <QCoreApplication>

#include "journal/journal_query.h"
#include "mqtt/qt/qt_mqtt_service.h"
#include "platform/process.h"
#include "platform/qt/qt_quit_signals.h"
#include "platform/qt/qt_tick_timer.h"
#include "service/headless_runner.h"

namespace orv {

int RunQtHeadlessService(SerialPort& port, MainFormEnvironment env, int port_for_this_run,
                         const MqttSettings& mqtt_settings,
                         const std::function<void(const std::string&)>& print) {
  // Caught from the start: a stop asked for during start-up is taken when the loop runs.
  const QtQuitSignals quit_signals([](int) { QCoreApplication::quit(); });
  MainForm form(std::move(env));
  HeadlessRunner runner(form, port, print);
  // One line per change of the broker's state, only when a broker is configured.
  QtMqttService mqtt(form, mqtt_settings, [&form, &mqtt_settings, &print](const BrokerState& state) {
    if (mqtt_settings.enabled)
      print(FormatJournalIsoTime(form.Now(), false) + " mqtt " + BrokerStateText(state));
  });
  form.Form_Load();
  if (port_for_this_run > 0) form.UsePortForThisRun(port_for_this_run);
  runner.Start();
  mqtt.Start();
  const QtTickTimer ticker([&runner, &mqtt] {
    runner.Tick();
    mqtt.Tick();
  });
  const ExitGuard close_port_at_exit([&port] { port.Close(); });
  QCoreApplication::exec();
  runner.Stop();
  // The disconnect and its record go to the socket, without waiting for the broker.
  mqtt.Tick();
  return 0;
}

}  // namespace orv
