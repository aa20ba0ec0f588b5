#include "journal/qt/qt_history_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTextDocument>
#include <QVBoxLayout>
#include <fstream>
#include <utility>

#include "journal/qt/qt_history_model.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"

namespace orv {
namespace {

constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss";
constexpr JournalKind kKinds[] = {JournalKind::kEvent, JournalKind::kOperator, JournalKind::kLink,
                                  JournalKind::kProgram};

QString KindText(JournalKind kind) {
  const std::string_view name = JournalKindName(kind);
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QDateTimeEdit* MakeDateTimeEdit(QWidget* parent, const QString& name) {
  auto* edit = new QDateTimeEdit(QDateTime::currentDateTime(), parent);
  edit->setObjectName(name);
  edit->setDisplayFormat(QString::fromLatin1(kDateTimeFormat));
  edit->setCalendarPopup(true);
  edit->setEnabled(false);
  return edit;
}

}  // namespace

QtHistoryWindow::QtHistoryWindow(std::filesystem::path journal_file, QWidget* parent)
    : QtHistoryWindow(std::move(journal_file), nullptr, parent) {}

QtHistoryWindow::QtHistoryWindow(HistorySource& source, QWidget* parent)
    : QtHistoryWindow({}, &source, parent) {}

QtHistoryWindow::QtHistoryWindow(std::filesystem::path journal_file, HistorySource* source,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), file_(std::move(journal_file)), source_(source) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setWindowTitle(tr("History - Orvandel"));
  resize(900, 560);

  auto* filters = new QHBoxLayout;
  from_on_ = new QCheckBox(tr("From"), this);
  from_on_->setObjectName(QStringLiteral("FromCheck"));
  from_ = MakeDateTimeEdit(this, QStringLiteral("FromEdit"));
  // A day back is where a search usually starts.
  from_->setDateTime(QDateTime::currentDateTime().addDays(-1));
  to_on_ = new QCheckBox(tr("To"), this);
  to_on_->setObjectName(QStringLiteral("ToCheck"));
  to_ = MakeDateTimeEdit(this, QStringLiteral("ToEdit"));
  kind_ = new QComboBox(this);
  kind_->setObjectName(QStringLiteral("KindCombo"));
  kind_->addItem(tr("All kinds"));
  for (const JournalKind kind : kKinds)
    kind_->addItem(KindText(kind));
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("TextFilter"));
  text_->setPlaceholderText(tr("Text or user"));
  text_->setClearButtonEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{from_on_, from_, to_on_, to_, kind_})
    filters->addWidget(w);
  filters->addWidget(text_, 1);

  model_ = new QtHistoryModel(source_ != nullptr ? *source_ : file_source_, this);
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("HistoryTable"));
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->setVisible(false);
  // Fixed row heights: the view never measures rows it does not show.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setSectionResizeMode(QtHistoryModel::kText, QHeaderView::Stretch);
  table_->setColumnWidth(QtHistoryModel::kTime, 150);
  table_->setColumnWidth(QtHistoryModel::kKind, 80);
  table_->setColumnWidth(QtHistoryModel::kDetail, 220);
  table_->setColumnWidth(QtHistoryModel::kUser, 110);

  auto* buttons = buttons_ = new QHBoxLayout;
  auto* export_csv = new QPushButton(tr("Export CSV..."), this);
  export_csv->setObjectName(QStringLiteral("ExportCsvButton"));
  auto* print = new QPushButton(tr("Print..."), this);
  print->setObjectName(QStringLiteral("PrintButton"));
  auto* pdf = new QPushButton(tr("Save as PDF..."), this);
  pdf->setObjectName(QStringLiteral("SavePdfButton"));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("HistoryStatus"));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  buttons->addWidget(status_, 1);
  buttons->addWidget(export_csv);
  buttons->addWidget(print);
  buttons->addWidget(pdf);
  if (source_ != nullptr) {
    for (QPushButton* button : {export_csv, print, pdf}) {
      button->setEnabled(false);
      button->setToolTip(
          tr("The journal is the service's: root exports it with "
             "orvandel --journal-export"));
    }
  }

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);

  typing_pause_.setSingleShot(true);
  typing_pause_.setInterval(kTypingPauseMs);
  connect(&typing_pause_, &QTimer::timeout, this, &QtHistoryWindow::ApplyFilter);
  connect(text_, &QLineEdit::textChanged, this, [this] { typing_pause_.start(); });
  connect(text_, &QLineEdit::returnPressed, this, &QtHistoryWindow::ApplyFilter);
  connect(kind_, &QComboBox::currentIndexChanged, this, &QtHistoryWindow::ApplyFilter);
  for (auto [check, edit] : {std::pair{from_on_, from_}, std::pair{to_on_, to_}}) {
    connect(check, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    connect(check, &QCheckBox::toggled, this, &QtHistoryWindow::ApplyFilter);
    connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this, check = check] {
      if (check->isChecked()) ApplyFilter();
    });
  }
  connect(model_, &QtHistoryModel::readFailed, this, [this](const QString& reason) {
    ShowStatus(tr("The journal cannot be read: %1").arg(reason), true);
  });
  connect(model_, &QtHistoryModel::rowsRead, this, &QtHistoryWindow::ShowCount);
  connect(export_csv, &QPushButton::clicked, this, &QtHistoryWindow::ExportCsvAsked);
  connect(print, &QPushButton::clicked, this, &QtHistoryWindow::PrintAsked);
  connect(pdf, &QPushButton::clicked, this, &QtHistoryWindow::SaveAsPdfAsked);
}

QPushButton* QtHistoryWindow::AddButton(const QString& text, std::function<void()> clicked) {
  auto* button = new QPushButton(text, this);
  buttons_->insertWidget(1, button);  // after the status line, before the window's own
  connect(button, &QPushButton::clicked, this, [clicked = std::move(clicked)] { clicked(); });
  return button;
}

JournalFilter QtHistoryWindow::CurrentFilter() const {
  JournalFilter filter;
  if (from_on_->isChecked()) filter.from_utc_ms = from_->dateTime().toMSecsSinceEpoch();
  // The edit shows whole seconds: the second it shows is taken in whole.
  if (to_on_->isChecked()) filter.to_utc_ms = to_->dateTime().toMSecsSinceEpoch() + 999;
  if (kind_->currentIndex() > 0) filter.kind = kKinds[kind_->currentIndex() - 1];
  filter.text = text_->text().toStdString();
  return filter;
}

bool QtHistoryWindow::OpenReader() {
  if (source_ != nullptr || reader_.is_open()) return true;
  if (file_.empty()) {
    ShowStatus(tr("There is no journal: the program folder cannot be found."), true);
    return false;
  }
  const sqlite::Result result = reader_.Open(file_);
  if (!result.ok()) {
    ShowStatus(
        tr("%1 cannot be read: %2")
            .arg(QString::fromStdString(file_.string()), QString::fromStdString(result.message)),
        true);
  }
  return result.ok();
}

void QtHistoryWindow::ApplyFilter() {
  typing_pause_.stop();
  if (!OpenReader()) return;
  model_->SetFilter(CurrentFilter());
}

void QtHistoryWindow::OnCommitted(std::int64_t sequence) {
  // A hidden window reads nothing; it starts over when it is shown again.
  if (!isVisible()) return;
  // The journal may have been created just now.
  if (source_ == nullptr ? !reader_.is_open() : !model_->started()) {
    ApplyFilter();
    return;
  }
  model_->TakeNewer(sequence);
}

void QtHistoryWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ApplyFilter();
}

QString QtHistoryWindow::status_text() const {
  return status_->text();
}

void QtHistoryWindow::ShowStatus(const QString& text, bool error) {
  status_->setText(text);
  status_->setStyleSheet(error ? QStringLiteral("color: #c00000") : QString());
}

void QtHistoryWindow::ShowCount() {
  const int rows = model_->rowCount();
  ShowStatus(
      model_->more() ? tr("%1 records shown, more below").arg(rows) : tr("%1 records").arg(rows),
      false);
}

bool QtHistoryWindow::ExportCsv(const QString& file) {
  if (source_ != nullptr || !OpenReader()) return false;
  std::ofstream out(std::filesystem::path(QFile::encodeName(file).toStdString()),
                    std::ios::binary | std::ios::trunc);
  std::int64_t rows = 0;
  sqlite::Result result;
  if (!out) {
    result = {14 /* SQLITE_CANTOPEN */, "the file cannot be created"};
  } else {
    result = WriteJournalCsv(reader_, CurrentFilter(), out, rows);
    out.close();
    if (result.ok() && !out) result = {10 /* SQLITE_IOERR */, "the file cannot be written"};
  }
  if (!result.ok()) {
    ShowStatus(tr("Not exported to %1: %2").arg(file, QString::fromStdString(result.message)),
               true);
    return false;
  }
  ShowStatus(tr("%1 records exported to %2").arg(rows).arg(file), false);
  return true;
}

bool QtHistoryWindow::Render(QPrinter& printer) {
  if (source_ != nullptr || !OpenReader()) return false;
  std::vector<JournalRow> rows;
  const JournalFilter filter = CurrentFilter();
  const sqlite::Result result = reader_.NewestFirst(filter, 0, kPrintLimit + 1, rows);
  if (!result.ok()) {
    ShowStatus(tr("The journal cannot be read: %1").arg(QString::fromStdString(result.message)),
               true);
    return false;
  }
  const bool cut = rows.size() > std::size_t{kPrintLimit};
  if (cut) rows.resize(kPrintLimit);
  QString html =
      QStringLiteral("<h3>%1</h3><p>%2</p>")
          .arg(tr("Orvandel journal").toHtmlEscaped(),
               tr("Printed %1; %2 records, newest first%3.")
                   .arg(QDateTime::currentDateTime().toString(QString::fromLatin1(kDateTimeFormat)),
                        QString::number(rows.size()),
                        cut ? tr(" (only the newest %1)").arg(kPrintLimit) : QString())
                   .toHtmlEscaped());
  html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">");
  html += QStringLiteral("<tr><th>%1</th><th>%2</th><th>%3</th><th>%4</th><th>%5</th></tr>")
              .arg(tr("Date and time"), tr("Kind"), tr("Text"), tr("Detail"), tr("User"));
  for (const JournalRow& row : rows) {
    html +=
        QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>")
            .arg(QString::fromStdString(FormatJournalLocalTime(row.entry.time)),
                 KindText(row.entry.kind), QString::fromStdString(row.entry.text).toHtmlEscaped(),
                 QString::fromStdString(row.entry.detail).toHtmlEscaped(),
                 QString::fromStdString(row.entry.login).toHtmlEscaped());
  }
  html += QStringLiteral("</table>");
  QTextDocument document;
  document.setHtml(html);
  document.print(&printer);
  ShowStatus(tr("%1 records printed%2")
                 .arg(rows.size())
                 .arg(cut ? tr(", only the newest %1").arg(kPrintLimit) : QString()),
             false);
  return true;
}

bool QtHistoryWindow::SaveAsPdf(const QString& file) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(file);
  if (!Render(printer)) return false;
  if (!QFile::exists(file)) {
    ShowStatus(tr("%1 could not be written").arg(file), true);
    return false;
  }
  ShowStatus(status_text() + tr(" to %1").arg(file), false);
  return true;
}

void QtHistoryWindow::ExportCsvAsked() {
  const QString file =
      QFileDialog::getSaveFileName(this, tr("Export CSV"), QStringLiteral("journal.csv"),
                                   tr("CSV files (*.csv);;All files (*)"));
  if (!file.isEmpty()) ExportCsv(file);
}

void QtHistoryWindow::PrintAsked() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() == QDialog::Accepted) Render(printer);
}

void QtHistoryWindow::SaveAsPdfAsked() {
  const QString file = QFileDialog::getSaveFileName(
      this, tr("Save as PDF"), QStringLiteral("journal.pdf"), tr("PDF files (*.pdf)"));
  if (!file.isEmpty()) SaveAsPdf(file);
}

}  // namespace orv
