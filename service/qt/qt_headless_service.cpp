#include "service/qt/qt_headless_service.h"

#include <unistd.h>

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <optional>

#include "annunciator/alsa_sound_output.h"
#include "attach/qt/qt_attach_server.h"
#include "journal/journal_query.h"
#include "mqtt/qt/qt_mqtt_service.h"
#include "notify/notify_feed.h"
#include "notify/qt/qt_notify_channels.h"
#include "platform/log_lines.h"
#include "platform/process.h"
#include "platform/users.h"
#include "platform/qt/qt_quit_signals.h"
#include "platform/qt/qt_tick_timer.h"
#include "service/headless_runner.h"
#include "service/inherited_socket.h"
#include "service/qt/web_panel_service.h"
#include "service/service_notifier.h"

namespace orv {

int RunQtHeadlessService(PanelCore& panel, SerialPort& port, NoticeFn notice, int port_for_this_run,
                         const ServiceSettings& settings,
                         const std::function<void(const std::string&)>& print,
                         const std::string& attach_socket, AccessGate& gate) {
  const MqttSettings& mqtt_settings = settings.mqtt;
  const WebPanelSettings& web = settings.web;
  // A socket systemd made is the windows' way in; one it handed that cannot be used, or a
  // socket that cannot be listened on, stops the start, so that the unit fails where it shows.
  std::string inherited_problem;
  const int inherited = InheritedListeningSocket(inherited_problem);
  if (!inherited_problem.empty()) {
    std::fputs(LogLine("orvandel: the service is not started: " + inherited_problem,
                       LogPriority::kError, IsJournalStream(STDERR_FILENO))
                   .c_str(),
               stderr);
    return 1;
  }
  // Caught from the start: a stop asked for during start-up is taken when the loop runs. SIGHUP
  // re-reads the site's settings, as daemons do (systemctl reload).
  const QtQuitSignals quit_signals([&settings](int signal_number) {
    if (signal_number == SIGHUP && settings.reload) {
      settings.reload();
    } else {
      QCoreApplication::quit();
    }
  });
  HeadlessRunner runner(panel, port, print);
  // One line per change of the broker's state, only when a broker is configured.
  QtMqttService mqtt(
      panel.state_store(), panel.journal(), panel.recorded(), mqtt_settings,
      [&panel, &mqtt_settings, &print](const BrokerState& state) {
        if (mqtt_settings.enabled)
          print(FormatJournalIsoTime(panel.Now(), false) + " mqtt " + BrokerStateText(state));
      });
  // The windows attached to the service act on its line through the runner, which keeps a line
  // an operator closed closed. They may attach before the first connect.
  QtAttachServer::Options attach_options;
  attach_options.socket_path = attach_socket;
  attach_options.inherited_socket = inherited;
  attach_options.said = [&panel, &print](const std::string& text) {
    print(FormatJournalIsoTime(panel.Now(), false) + " attach " + text);
  };
  QtAttachServer attach(panel,
                        ServiceLine{[&runner](const Actor& by) { runner.Connect(by); },
                                    [&runner](const Actor& by) { runner.Disconnect(by); }},
                        attach_options, notice);
  WebPanelService web_panel(panel,
                            ServiceLine{[&runner](const Actor& by) { runner.Connect(by); },
                                        [&runner](const Actor& by) { runner.Disconnect(by); }},
                            web, gate, notice);
  const bool attachable = inherited >= 0 || !attach_socket.empty();
  if (attachable && !attach.Listen()) {
    std::fputs(LogLine("orvandel: the service is not started: windows cannot attach (see above)",
                       LogPriority::kError, IsJournalStream(STDERR_FILENO))
                   .c_str(),
               stderr);
    return 1;
  }
  // Who is told when nobody answers: after the panel's start, which opens the journal that says
  // what went before.
  QtNotifyChannels channels({settings.notify.command, settings.notify.sendmail,
                             settings.notify.mail_from, settings.notify.ca_file});
  NotifyFeed notify(
      settings.notify.rules, panel.state_store(), panel.journal(), channels,
      [&panel] { return panel.Now(); }, notice, print, settings.notify.instance);
  panel.Load();
  notify.Recover();
  if (port_for_this_run > 0) panel.UsePortForThisRun(port_for_this_run);
  // A web panel that cannot listen is said once; the line is served all the same.
  if (std::string error; !web_panel.Start(error)) {
    if (notice) notice(Notice{NoticeLevel::kError, "The web panel is off: " + error});
    print(FormatJournalIsoTime(panel.Now(), false) + " web off: " + error);
  } else if (web.enabled) {
    mqtt.SetWebAddress(WebAddress(web, web.port, HostName()));
    print(FormatJournalIsoTime(panel.Now(), false) + " web listening at " +
          (web.tls() ? "https://" : "http://") + web.listen);
  }
  // The sounder on the ALSA device of the settings; none without one.
  std::optional<AlsaSoundOutput> sounder;
  if (const std::string device = panel.sound_device(); !device.empty()) {
    sounder.emplace(device);
    panel.set_sound_output(&*sounder);
  }
  runner.Start();
  // systemd hears that the service is up once the first connect has been tried, and that it is
  // alive from every second's tick: a tick that stops is a hung service, restarted.
  ServiceNotifier notifier(SendToSystemd);
  auto status = [&panel, &runner] {
    const LineStatus& line = panel.state_store().state().line;
    return ServiceStatusText(line.port, runner.connected(), line.alarm);
  };
  notifier.Ready(status());
  mqtt.Start();
  const QtTickTimer ticker(
      [&runner, &notify, &mqtt, &attach, attachable, &web_panel, &notifier, &status] {
        runner.Tick();
        notify.Tick();
        mqtt.Tick();
        if (attachable) attach.Tick();
        web_panel.Tick();
        notifier.Tick(status());
      });
  const ExitGuard close_port_at_exit([&port] { port.Close(); });
  // A stop the service asks for itself (for the lock step, site/lock_step.h) carries its code.
  const int code = QCoreApplication::exec();
  runner.Stop();
  panel.set_sound_output(nullptr);
  // The disconnect and its record go to the socket, without waiting for the broker.
  mqtt.Tick();
  return code;
}

}  // namespace orv
