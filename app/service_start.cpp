#include "app/service_start.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "app/site_keys.h"
#include "journal/journal_query.h"
#include "platform/log_lines.h"
#include "site/lock_step.h"

namespace orv {
namespace {

// The service's records, one line each; under systemd with their priority.
void PrintLine(const std::string& line, LogPriority priority) {
  static const bool to_journal = IsJournalStream(STDOUT_FILENO);
  std::fputs(LogLine(line, priority, to_journal).c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int StartService(ProgramModule& module, QtMappedSerialPort& port, MainFormEnvironment environment,
                 int port_for_this_run, const ServiceSettings& settings,
                 const std::string& attach_socket, AccessGate& gate) {
  // Without the module there is nothing to serve, and its notice said why.
  Service* service = module.Get<Service>();
  if (service == nullptr) {
    std::fputs("orvandel: the service is not started: it needs the module\n", stderr);
    return 1;
  }
  // The service owns the line: a lock file anyone may leave in the shared lock folder, naming a
  // process that does not have the device open, does not keep it off. One it cannot take over
  // itself goes to the step before its start, as root, when there is one.
  const std::filesystem::path folder = environment.program_folder;
  const NoticeFn notice = environment.notice;
  ServiceLockStep lock_step(
      folder, TakeLockStepNote(folder),
      [notice](const std::string& text) {
        notice(Notice{NoticeLevel::kWarning, text});
        PrintLine(text, LogPriority::kWarning);
      },
      [] { QTimer::singleShot(0, [] { QCoreApplication::exit(kExitForLockStep); }); });
  port.serial().TakeOverSquattedLocks(
      [&lock_step, &port](const PortLockHolder& lock, const std::string& why) {
        lock_step.BeyondReach(lock, port.serial().device(), why);
      },
      lock_step.done_before());
  const std::filesystem::path program_file =
      folder.empty() ? folder : folder / "SYSINI" / "MainForm.INI";
  const SiteFiles site_file = environment.site_settings_file;
  // The panel is the program's; the module's service drives it.
  MainForm panel(std::move(environment));
  // SIGHUP: the site's settings read and judged again; what can change does so on the running
  // line.
  SettingsReload reload(
      [program_file, site_file, notice] {
        const SiteSettings site(program_file, notice, site_file);
        return CheckSiteSettings(site.Sources());
      },
      [&panel](const std::string& text, bool problem) {
        PrintLine(FormatJournalIsoTime(panel.Now(), false) + " " + text,
                  problem ? LogPriority::kWarning : LogPriority::kInfo);
      },
      [&panel](bool taken) {
        if (taken)
          panel.ReloadSiteSettings();
        else
          panel.KeepSiteSettings();
      });
  ServiceSettings running = settings;
  running.reload = [&reload] { reload.Reload(); };
  return service->RunHeadlessService(
      panel, port, notice, port_for_this_run, running,
      [](const std::string& line) { PrintLine(line, LogPriority::kInfo); }, attach_socket, gate);
}

}  // namespace orv
