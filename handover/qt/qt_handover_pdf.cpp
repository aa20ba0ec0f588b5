#include "handover/qt/qt_handover_pdf.h"

#include <QFile>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include "handover/handover_render.h"

namespace orv {
namespace {

QString Escaped(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toHtmlEscaped();
}

}  // namespace

QString HandoverHtml(const HandoverReport& report) {
  QString html = QStringLiteral("<h2>") + Escaped(kHandoverTitle) + QStringLiteral("</h2><p>") +
                 Escaped(HandoverPeriodText(report)) + QStringLiteral("</p>");
  for (const HandoverSection& section : HandoverSections(report)) {
    html += QStringLiteral("<h3>") + Escaped(section.heading) + QStringLiteral(" (") +
            QString::number(section.rows.size()) + QStringLiteral(")</h3>");
    if (section.rows.empty()) {
      html += QStringLiteral("<p>none</p>");
      continue;
    }
    html +=
        QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">");
    for (const auto& row : section.rows) {
      html += QStringLiteral("<tr>");
      for (const std::string& cell : row)
        html += QStringLiteral("<td>") + Escaped(cell) + QStringLiteral("</td>");
      html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
  }
  return html;
}

bool WriteHandoverPdf(const HandoverReport& report, const QString& file, QString& error) {
  // QPdfWriter says nothing of a file it cannot open: open it first, to say why.
  QFile out(file);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    error = out.errorString();
    return false;
  }
  QPdfWriter writer(&out);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setTitle(
      QString::fromLatin1(kHandoverTitle.data(), static_cast<qsizetype>(kHandoverTitle.size())));
  QTextDocument document;
  document.setHtml(HandoverHtml(report));
  document.print(&writer);
  out.close();
  if (out.error() != QFileDevice::NoError) {
    error = out.errorString();
    return false;
  }
  return true;
}

}  // namespace orv
