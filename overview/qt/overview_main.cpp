// orvandel-overview: the site's overview, a tile per panel service, from what the services keep
// retained on the broker (or on a central one that bridges many sites'). Its own program and
// unit, so that no panel service's crash or hang takes the overview with it.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "overview/overview_settings.h"
#include "overview/qt/qt_overview.h"
#include "platform/log_lines.h"
#include "platform/qt/qt_log.h"
#include "platform/users.h"

int main(int argc, char** argv) {
  orv::SetUpQtLog(false);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("orvandel-overview"));
  QCoreApplication::setApplicationVersion(QStringLiteral(ORV_VERSION));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("The site's overview of its Orvandel panel services, served as a web page."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption settings_option(
      QStringLiteral("settings"),
      QStringLiteral("Read the settings from <file> before the site's (%1): a file of yours or "
                     "root's that only its owner may change.")
          .arg(QString::fromUtf8(orv::kSiteSettingsFile.data(),
                                 static_cast<qsizetype>(orv::kSiteSettingsFile.size()))),
      QStringLiteral("file"));
  parser.addOption(settings_option);
  parser.process(app);
  if (!parser.positionalArguments().isEmpty()) {
    std::fputs("orvandel-overview: it takes no arguments (see --help)\n", stderr);
    return 2;
  }

  const bool journal = orv::IsJournalStream(STDERR_FILENO);
  const auto print = [journal](const std::string& text) {
    std::fputs(orv::LogLine("orvandel-overview: " + text, orv::LogPriority::kInfo, journal).c_str(),
               stderr);
  };
  const orv::NoticeFn notice = [&print](const orv::Notice& n) { print(n.text); };
  const orv::SiteSettings site(parser.value(settings_option).toStdString(), notice);
  const std::string host = orv::HostName();
  const orv::OverviewSettings settings = orv::LoadOverviewSettings(site, notice, host);
  if (!settings.refusal.empty()) {
    std::fputs(orv::LogLine("orvandel-overview: not started: " + settings.refusal,
                            orv::LogPriority::kError, journal)
                   .c_str(),
               stderr);
    return 78;  // EX_CONFIG: systemd does not restart a unit that cannot run as configured
  }
  return orv::RunQtOverview(settings, host, print);
}
