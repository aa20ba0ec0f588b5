// The program: the window model over a serial port, shown in a Qt window and driven by its
// events and its 100 ms timer until the window is closed.
#include <unistd.h>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "access/access_gate.h"
#include "access/login_backoff_file.h"
#include "access/login_words.h"
#include "access/qt/qt_access_bar.h"
#include "access/qt/qt_pin_checks.h"
#include "access/user_admin.h"
#include "access/users_file.h"
#include "annunciator/qt/qt_annunciator_bar.h"
#include "app/command_line.h"
#include "app/handover_command.h"
#include "app/handover_window.h"
#include "app/instance_options.h"
#include "app/journal_commands.h"
#include "app/program_module.h"
#include "app/service_start.h"
#include "app/site_keys.h"
#include "attach/attach_protocol.h"
#include "attach/service_probe.h"
#include "conditions/qt/qt_conditions_bar.h"
#include "config/access_settings.h"
#include "config/site_settings.h"
#include "journal/qt/qt_history_button.h"
#include "linkwatch/qt/qt_line_status.h"
#include "mqtt/mqtt_feed.h"
#include "mqtt/mqtt_settings.h"
#include "netport/qt/qt_mapped_serial_port.h"
#include "panel/main_form.h"
#include "platform/notice_log.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "platform/qt/qt_after_first_paint.h"
#include "platform/qt/qt_choice_dialog.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_log.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_notice.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_quit_signals.h"
#include "platform/qt/qt_tick_timer.h"
#include "platform/qt/qt_tray_notice.h"
#include "platform/users.h"
#include "site/lock_step.h"
#include "site/site.h"
#include "site/site_facts.h"
#include "web/web_settings.h"

namespace {

// Where SYSINI and DATA are: --state-folder (a site's service), or beside the real executable,
// wherever it was started from or linked to.
orv::ProgramFolderLookup StateFolder(const orv::ProgramOptions& options) {
  if (options.state_folder) return {std::filesystem::absolute(*options.state_folder), {}};
  return orv::FindProgramFolder();
}

// --user-add, --user-passwd, --user-disable and --user-list: the program's exit status.
int RunUserCommand(const orv::ProgramOptions& options) {
  const orv::AdminContext context{
      options.users_file.value_or(std::filesystem::path(orv::kUsersFile)),
      std::cin,
      std::cout,
      std::cerr,
      ::isatty(STDIN_FILENO) != 0,
      orv::ReadPinFromTerminal,
      orv::EffectiveUserId()};
  switch (options.user_command) {
    case orv::UserCommand::kAdd:
      return orv::UserAdd(context, options.user_name, options.user_level);
    case orv::UserCommand::kPasswd:
      return orv::UserPasswd(context, options.user_name);
    case orv::UserCommand::kDisable:
      return orv::UserDisable(context, options.user_name);
    case orv::UserCommand::kList:
      return orv::UserList(context);
    case orv::UserCommand::kNone:
      break;
  }
  return 2;
}

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// --notify-test: at a site, root tests as the service sends, under its user and groups.
int RunNotifyTest(const orv::ProgramOptions& options, const orv::SiteSettings& site,
                  const orv::NoticeFn& notice, orv::ProgramModule& module) {
  const orv::NotifySettings settings = orv::LoadSiteNotifySettings(site, notice, options);
  if (::geteuid() == 0 && orv::SiteInstalled({}, true)) {
    if (std::string why; !orv::BecomeServiceUser(why)) {
      std::fprintf(stderr, "orvandel: the notifications are not tested: %s\n", why.c_str());
      return 1;
    }
  }
  orv::Service* service = module.Get<orv::Service>();
  if (service == nullptr) {
    std::fprintf(stderr,
                 "orvandel: the notifications cannot be tested: the module is not loaded (%s)\n",
                 module.problem().c_str());
    return 1;
  }
  return service->RunNotifyTest(settings, options.notify_rule, PrintLine);
}

}  // namespace

int main(int argc, char* argv[]) {
  // The whole command line is understood before Qt looks for a display: a bad option, --help
  // and --version get their answer with or without one.
  orv::ParsedOptions parsed =
      orv::ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "orvandel: %s\n", parsed.error.c_str());
    return 2;
  }
  orv::TakeInstancePlaces(parsed.options);
  // The site's service keeps its records and settings from the operators' accounts; a program
  // on the shared folders shares what it creates with the next operator.
  if (parsed.options.headless && parsed.options.state_folder) {
    orv::KeepNewFilesFromOthers();
  } else {
    orv::ShareNewFilesWithGroup();
  }
  if (parsed.options.help || parsed.options.version) {
    std::fputs(
        parsed.options.help ? orv::ProgramUsage().c_str() : (orv::ProgramVersion() + "\n").c_str(),
        stdout);
    return 0;
  }
  // Before any Qt object talks, the handover's PDF included: its words only with --verbose.
  orv::SetUpQtLog(parsed.options.verbose);
  // The journal commands and the shift handover report need no display either.
  if (parsed.options.journal_command != orv::JournalCommand::kNone ||
      parsed.options.handover_report) {
    orv::ProgramFolderLookup found = StateFolder(parsed.options);
    // At a site the records are the service's, whatever program folder this copy has.
    if (!parsed.options.state_folder && orv::SiteInstalled({}, ::geteuid() == 0))
      found = {orv::kSiteStateFolder, {}};
    if (parsed.options.handover_report)
      return orv::RunHandoverCommand(parsed.options, found.folder, found.problem,
                                     orv::SystemJournalTime(), std::cout, std::cerr);
    return orv::RunJournalCommand(parsed.options, found.folder, found.problem, std::cout,
                                  std::cerr);
  }
  // So does the installer's check of the site, and the service's start step.
  if (parsed.options.site_check) return orv::RunSiteCheck(std::cout);
  if (parsed.options.check_settings) {
    const orv::SiteSettings site(
        StateFolder(parsed.options).folder / "SYSINI" / "MainForm.INI",
        [](const orv::Notice& notice) { std::cerr << "orvandel: " << notice.text << "\n"; },
        orv::SiteFilesOf(parsed.options));
    return orv::RunCheckSettings(parsed.options.check_file, site, std::cout, std::cerr);
  }
  if (parsed.options.take_over_lock) {
    PrintLine(orv::RunLockStep(*parsed.options.state_folder));
    return 0;  // whatever it found, the service starts
  }
  // Managing operators needs no display either.
  if (parsed.options.user_command != orv::UserCommand::kNone) {
    return RunUserCommand(parsed.options);
  }
  // Neither the service nor the notifications' test needs a display.
  const bool windowless = parsed.options.headless || parsed.options.notify_test;
  // Qt would abort without a display; say what to do instead.
  if (!windowless && !orv::HasDisplay(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                      std::getenv("QT_QPA_PLATFORM"))) {
    std::fprintf(stderr, "orvandel: %s\n", orv::kNoDisplay);
    return 2;
  }
  // Without a window no display is needed: the core application alone.
  const std::unique_ptr<QCoreApplication> app = windowless
                                                    ? std::make_unique<QCoreApplication>(argc, argv)
                                                    : std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Orvandel"));
  // The module with the network, the sounder and the history's window: loaded right after the
  // window's first paint, or before it where the start needs it.
  orv::ProgramModule module(orv::ProgramModuleFile(), nullptr);
  // At a site (its socket is there, or one is named) the window attaches, or says why it cannot,
  // and never opens the line itself: an operator refused by the socket's mode, or before a
  // service that is not running, must not end up with a port of their own. Only --standalone,
  // or a machine with no site, opens the line here.
  const orv::ServiceSocketChoice choice = orv::WindowSocketChoice(
      parsed.options, windowless, orv::QtChooser(orv::kProgramTitle, "Which controller's panel?"));
  if (!choice.instances.empty()) return orv::SayNoneChosen(choice.instances);
  std::string attach_socket = choice.socket;
  if (choice.attach) {
    orv::AttachedWindows* windows = module.Get<orv::AttachedWindows>();
    if (windows == nullptr) {
      std::fprintf(stderr,
                   "orvandel: the window cannot attach to the service at %s: the module is not "
                   "loaded (%s)\n",
                   attach_socket.c_str(), module.problem().c_str());
      return 1;
    }
    return windows->RunAttachedWindow(attach_socket);
  }
  if (parsed.options.headless && !parsed.options.socket &&
      !std::filesystem::is_directory(std::filesystem::path(attach_socket).parent_path())) {
    attach_socket.clear();
  }
  const orv::SiteFiles site_settings = orv::SiteFilesOf(parsed.options);

  const orv::ProgramFolderLookup found = StateFolder(parsed.options);
  const std::filesystem::path& folder = found.folder;
  // Every notice goes to the window's status bar and to the Qt log (standard error); those of
  // start-up wait in the notice log until the window shows them.
  orv::NoticeLog notices(orv::SystemLocalTime);
  const orv::NoticeFn notice = notices.Sink(orv::QtLogNotices());
  module.set_notice(notice);
  if (folder.empty()) {
    // Every file operation refuses a name without a folder: nothing lands in the current one.
    notice(orv::Notice{orv::NoticeLevel::kError,
                       "The program folder cannot be found: " + found.problem +
                           ". Settings and the event log are neither read nor written."});
  }
  // COM1..COM10 stand for the devices or network addresses of the site's port map, looked up at
  // every connect; a map that is ignored is said through the window's notices.
  // A network port comes from the module, loaded at its first open if not before.
  orv::QtMappedSerialPort port(
      [folder, notice, site_settings](int port_number) {
        orv::Configuration config(folder, site_settings);
        config.set_notice(notice);
        return config.SerialDevice(port_number);
      },
      [&module](std::string& why) -> std::unique_ptr<orv::NetworkSerialPort> {
        if (auto* ports = module.Get<orv::NetworkPorts>()) return ports->MakeNetworkPort();
        why = "the module is not loaded (" + module.problem() + ")";
        return nullptr;
      });
  // The broker, if any, the log-in's idle time and the web panel, from the site-wide settings,
  // read once.
  const orv::SiteSettings site(folder / "SYSINI" / "MainForm.INI", notice, site_settings);
  if (parsed.options.notify_test) return RunNotifyTest(parsed.options, site, notice, module);
  // The service refuses a wrong site setting rather than running on a default nobody chose.
  if (parsed.options.headless && !orv::SiteSettingsAccepted(site, std::cerr))
    return orv::kExitForBadSettings;
  if (!parsed.options.headless) orv::SayWrongSettings(site, notice);
  const orv::MqttSettings mqtt_settings = orv::LoadSiteMqttSettings(site, notice, parsed.options);
  // A web panel that would be plain HTTP on the network stops the start, so that nobody takes a
  // panel served in the clear for a safe one.
  const orv::WebPanelSettings web_settings = orv::LoadWebPanelSettings(site, notice);
  if (!web_settings.refusal.empty()) {
    std::fprintf(stderr, "orvandel: the web panel is refused: %s\n", web_settings.refusal.c_str());
    return orv::kExitForBadSettings;  // a setting to change, which no restart mends
  }
  // The one access gate of the program that holds the line, for its window, the attached
  // windows and web panels alike: off without the users file, everything allowed as ever.
  orv::AccessGate gate(
      orv::ReadUsersFile(parsed.options.users_file.value_or(std::filesystem::path(orv::kUsersFile)),
                         notice),
      std::chrono::minutes(orv::AccessIdleMinutes(site)));
  // PINs are checked on worker threads, the answers back on the loop: a check never holds it.
  // Its back-off kept beside the journal, so that a restart gives no one fresh guesses.
  const orv::QtPinChecks pin_checks(
      gate, folder.empty() ? folder : folder / "DATA" / orv::kLogInBackOffFile, notice);
  orv::MainFormEnvironment environment{port, folder, nullptr, orv::SystemLocalTime, notice};
  environment.site_settings_file = site_settings;
  environment.journal_options.host = orv::RecordHost(parsed.options, orv::HostName());
  environment.tick_clock = orv::SteadyMilliseconds;
  environment.gate = &gate;
  if (parsed.options.headless) {
    // Who is told when nobody at the panel answers: the service's, read with the rest.
    const auto notify_settings = orv::LoadSiteNotifySettings(site, notice, parsed.options);
    return orv::StartService(module, port, std::move(environment), parsed.options.port.value_or(0),
                             {mqtt_settings, web_settings, notify_settings, {}}, attach_socket,
                             gate);
  }
  // Start-up may show a message box before the window exists.
  environment.message_box = orv::QtMessageBox(nullptr);
  orv::MainForm form(std::move(environment));
  // SIGTERM, SIGINT and SIGHUP, from the start's boxes on: whatever box is open closes, the
  // window closes as the operator would close it (the port closes on the way out, and with it
  // goes its lock file), and the program ends.
  QWidget* window = nullptr;
  const orv::QtQuitSignals quit_signals([&window](int) { orv::CloseWindowAndLeave(window); });
  // The broker's state, at the right end of the status bar.
  auto* broker_label = new QLabel;
  broker_label->setObjectName(QStringLiteral("BrokerStateLabel"));
  const auto show_broker = [broker_label](const orv::BrokerState& state) {
    broker_label->setText(QString::fromStdString("MQTT: " + orv::BrokerStateText(state)));
  };
  // What goes to the broker is fed from the start on, without a broker nothing: the feed reads
  // the journal, and start-up need not. The client comes with the module.
  orv::MqttPublisher publisher(mqtt_settings.base_topic);
  std::optional<orv::MqttFeed> feed;
  if (mqtt_settings.enabled)
    feed.emplace(form.state_store(), form.journal(), form.recorded(), publisher);
  std::unique_ptr<orv::TickedService> broker;
  std::unique_ptr<orv::TickedService> web_panel;
  form.Form_Load();
  // A quit signal during the start's boxes: no window to show, no loop to start.
  if (quit_signals.signalled()) {
    form.Form_Unload();
    return 0;
  }

  orv::QtFormView view(form.MainFormWindow, form.controls(), form.focus,
                       [&form] { form.Form_Unload(); });
  view.ShowNotices(notices);
  // The journal's history, in a window of its own, made when first asked for and kept up to date
  // by every commit while it is shown.
  std::unique_ptr<orv::HistoryView> history;
  const std::filesystem::path journal_file =
      folder.empty() ? folder : folder / "DATA" / orv::Journal::kFileName;
  orv::AddHistoryButton(view, std::string(orv::ActionName(orv::Action::kHistory)), [&] {
    if (!form.Guarded(orv::Action::kHistory, [](const orv::Actor&) {})) return;
    if (history == nullptr) {
      auto* windows = module.Get<orv::HistoryWindows>();
      if (windows == nullptr) return;  // the notice said why
      // Without a program folder there is no journal to read, and the window says so.
      history = windows->MakeHistoryView(journal_file, &view);
      orv::AddHandoverButton(std::bind_front(&orv::HistoryView::AddButton, history.get()), form,
                             journal_file, &view);
    }
    history->Show();
  });
  orv::Connection history_updates;
  if (orv::Journal* journal = form.journal()) {
    history_updates = journal->committed().Connect([&history](std::int64_t sequence) {
      if (history != nullptr) history->OnCommitted(sequence);
    });
  }
  // The serial line beside the notices, and the controller's silence in the title and, where the
  // desktop has a tray, as a notification.
  orv::QtLineStatus line_status_view(view);
  line_status_view.Show(form.line_status());
  const orv::Connection line_status = form.line_status_changed().Connect(
      [&line_status_view](const orv::LineStatus& status) { line_status_view.Show(status); });
  orv::QtTrayNotice tray(QString::fromLatin1(orv::kProgramTitle));
  const orv::Connection link_alerts =
      form.link_alert().Connect([&tray](const orv::Notice& alert) { tray.Show(alert); });
  view.notice_bar()->addPermanentWidget(broker_label);
  // Which way this window works: on a line of its own.
  auto* attach_label = new QLabel(QStringLiteral("Standalone"));
  attach_label->setObjectName(QStringLiteral("AttachState"));
  view.notice_bar()->addPermanentWidget(attach_label);
  // The annunciator: its sound on the desktop's sound output, what sounds in the status bar with
  // Silence and Lamp test beside it. The sound output comes with the module after the first
  // paint: Qt Multimedia's loading and set-up (its back end, the sound server) would hold it back.
  std::unique_ptr<orv::SoundOutput> sound;
  orv::QtAnnunciatorBar annunciator_bar(
      view,
      {std::string(orv::ActionName(orv::Action::kSilence)),
       std::string(orv::ActionName(orv::Action::kLampTest))},
      [&](std::string_view where) {
        view.CallModel([&] {
          form.Guarded(orv::Action::kSilence,
                       [&](const orv::Actor& by) { form.annunciation().Silence(where, by); });
        });
      },
      [&] {
        view.CallModel([&form] {
          form.Guarded(orv::Action::kLampTest,
                       [&form](const orv::Actor& by) { form.annunciation().LampTest(by); });
        });
      });
  // Who is logged in at this window, Log in and Log out; a refused action asks for a log in,
  // and any key or mouse press keeps the log-in alive.
  orv::QtGateAccessBar access(view, gate, orv::MainForm::kWindowOrigin,
                              [&form] { return form.AccessNow(); });
  const orv::Connection login_wanted = form.login_wanted().Connect(
      [&access](orv::Action refused) { access.bar().AskForLogIn(orv::LogInReason(refused)); });
  access.bar().SettleRefusalsIn(notices);
  const orv::QtInputWatch input([&form] { form.Touch(); });
  // What stands, in priority, with the operator's Acknowledge and Shelve.
  orv::QtConditionsBar conditions_bar(
      view,
      [&](const std::string& id, const std::string& comment) {
        view.CallModel([&] { form.AcknowledgeFromWindow(id, comment); });
      },
      [&](const std::string& id, const std::string& reason, int minutes) {
        view.CallModel([&] { form.ShelveFromWindow(id, reason, minutes); });
      });
  conditions_bar.Show(form.state_store().state().conditions);
  const orv::Connection conditions =
      form.state_store().changed().Connect([&](unsigned sections, std::uint64_t) {
        if (sections & orv::kSectionConditions)
          conditions_bar.Show(form.state_store().state().conditions);
      });
  annunciator_bar.Show(form.annunciation().view().state);
  const orv::Connection annunciation = form.annunciation().changed().Connect(
      [&annunciator_bar](const orv::AnnunciationView& now) { annunciator_bar.Show(now.state); });
  // Right after the first paint: the module, and with it the broker's client, the web panel and
  // the sounder.
  orv::QtAfterFirstPaint after_first_paint(view, [&] {
    auto* brokers = module.Get<orv::BrokerClients>();
    if (brokers == nullptr) {
      feed.reset();
      show_broker(orv::BrokerState{});
      if (mqtt_settings.enabled) broker_label->setText(QStringLiteral("MQTT: unavailable"));
      return;
    }
    broker = brokers->StartBrokerClient(
        mqtt_settings,
        "orvandel-" + orv::HostName() + "-" + std::to_string(QCoreApplication::applicationPid()),
        publisher, show_broker);
    if (web_settings.enabled) {
      std::string error;
      web_panel =
          module.Get<orv::WebPanels>()->StartWebPanel(form, web_settings, gate, notice, error);
      if (web_panel == nullptr)
        notice(orv::Notice{orv::NoticeLevel::kError, "The web panel is off: " + error});
      else
        publisher.SetWebAddress(orv::WebAddress(web_settings, web_settings.port, orv::HostName()));
    }
    sound = module.Get<orv::Sounders>()->MakeSoundOutput();
    form.annunciation().set_output(sound.get());
  });
  // The tick is the program's: it runs from here to the end, whatever the window does. A window
  // that has not painted within a second (minimised, say) gets its module all the same.
  int ticks = 0;
  const orv::QtTickTimer ticker([&] {
    view.CallModel([&form] { form.TRTimer_Timer(); });
    if (++ticks == 10) after_first_paint.RunIfPending();
    if (feed) feed->Tick();
    if (broker) broker->Tick();
    if (web_panel) web_panel->Tick();
  });
  window = &view;
  // Qt ends the program with exit() when the display connection is lost: close the port then too.
  const orv::ExitGuard close_port_at_exit([&port] { port.Close(); });
  view.show();
  const int code = QApplication::exec();
  form.annunciation().set_output(nullptr);
  // The window's close disconnected; that goes to the socket, without waiting for the broker.
  if (feed) feed->Tick();
  if (broker) broker->Tick();
  return code;
}
