#include "platform/qt/qt_log.h"

#include <unistd.h>

#include <QLoggingCategory>
#include <QString>
#include <cstdio>

#include "platform/log_lines.h"

namespace orv {
namespace {

LogPriority PriorityOf(QtMsgType type) {
  switch (type) {
    case QtFatalMsg:
    case QtCriticalMsg:
      return LogPriority::kError;
    case QtWarningMsg:
      return LogPriority::kWarning;
    case QtInfoMsg:
      break;
    case QtDebugMsg:
      return LogPriority::kDebug;
  }
  return LogPriority::kInfo;
}

void ToJournal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const std::string line =
      LogLine(qFormatLogMessage(type, context, message).toStdString(), PriorityOf(type), true);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

const char* QuietLogRules() {
  return "*.debug=false\n"
         "*.info=false\n"
         "*.warning=false\n"
         "orvandel.*.info=true\n"
         "orvandel.*.warning=true\n";
}

void SetUpQtLog(bool verbose) {
  if (!verbose) QLoggingCategory::setFilterRules(QString::fromLatin1(QuietLogRules()));
  if (IsJournalStream(STDERR_FILENO)) qInstallMessageHandler(ToJournal);
}

}  // namespace orv
