#include "app/handover_command.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <fstream>
#include <memory>

#include "app/journal_commands.h"
#include "handover/handover_read.h"
#include "handover/handover_render.h"
#include "handover/qt/qt_handover_pdf.h"

namespace orv {

int RunHandoverCommand(const ProgramOptions& options, const std::filesystem::path& program_folder,
                       const std::string& folder_problem, const JournalTime& now, std::ostream& out,
                       std::ostream& err) {
  if (program_folder.empty()) {
    err << "orvandel: no journal to report from: " << folder_problem << '\n';
    return 1;
  }
  const std::filesystem::path file = program_folder / "DATA" / Journal::kFileName;
  if (JournalDenied(file, err)) return 1;
  std::error_code missing;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file, missing))) {
    err << "orvandel: no journal at " << file.string() << '\n';
    return 1;
  }
  JournalReader reader;
  HandoverReport report;
  sqlite::Result result = reader.Open(file);
  if (result.ok())
    result = ReadHandoverReport(reader, HandoverAsk{now, options.handover_since_ms}, report);
  if (!result.ok()) {
    err << "orvandel: " << file.string() << " cannot be read: " << result.message << '\n';
    return 1;
  }
  const std::string where =
      options.handover_output ? options.handover_output->string() : std::string("standard output");
  if (options.handover_format == "pdf") {
    // The document lays out its text with Qt's fonts, which need an application: one without a
    // display, so that the report is made where there is none.
    std::unique_ptr<QGuiApplication> app;
    static int argc = 3;
    static char arg0[] = "orvandel", arg1[] = "-platform", arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    if (QCoreApplication::instance() == nullptr)
      app = std::make_unique<QGuiApplication>(argc, argv);
    QString error;
    if (!WriteHandoverPdf(report, QString::fromStdString(where), error)) {
      err << "orvandel: " << where << " cannot be written: " << error.toStdString() << '\n';
      return 1;
    }
    return 0;
  }
  const std::string body =
      options.handover_format == "csv" ? HandoverCsv(report) : HandoverText(report);
  if (options.handover_output) {
    std::ofstream file_out(*options.handover_output, std::ios::binary | std::ios::trunc);
    if (file_out) file_out << body;
    if (file_out) file_out.flush();
    if (!file_out) {
      err << "orvandel: " << where << " cannot be written\n";
      return 1;
    }
    return 0;
  }
  out << body;
  out.flush();
  if (!out) {
    err << "orvandel: " << where << " cannot be written\n";
    return 1;
  }
  return 0;
}

}  // namespace orv
