// The handover report as a document: the same sections as the text, in tables, for the window to
// show and for a PDF (Qt's own PDF writer: no printer, no display needed).
#pragma once

#include <QString>

#include "handover/handover_report.h"

class QTextDocument;

namespace orv {

// The report as HTML, every recorded word escaped.
QString HandoverHtml(const HandoverReport& report);
// Writes the report as a PDF file; false with why in error when the file cannot be written.
bool WriteHandoverPdf(const HandoverReport& report, const QString& file, QString& error);

}  // namespace orv
