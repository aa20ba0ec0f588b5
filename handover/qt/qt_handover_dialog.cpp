#include "handover/qt/qt_handover_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

#include "handover/handover_read.h"
#include "handover/handover_render.h"
#include "handover/qt/qt_handover_pdf.h"

namespace orv {
namespace {

// Long enough for the program's tick (100 ms) to have committed the sign-off's record.
constexpr int kReadAfterSignOffMs = 500;

QLineEdit* Field(QWidget* parent, const char* name, bool pin) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  if (pin) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

}  // namespace

QtHandoverDialog::QtHandoverDialog(std::filesystem::path journal_file, SignOffFn sign_off,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window), file_(std::move(journal_file)), sign_off_(std::move(sign_off)) {
  setWindowTitle(tr("Shift handover"));
  resize(820, 640);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HandoverReport"));

  outgoing_name_ = Field(this, "OutgoingName", false);
  outgoing_pin_ = Field(this, "OutgoingPin", true);
  incoming_name_ = Field(this, "IncomingName", false);
  incoming_pin_ = Field(this, "IncomingPin", true);
  auto* people = new QFormLayout;
  people->addRow(tr("Outgoing operator"), outgoing_name_);
  people->addRow(tr("PIN"), outgoing_pin_);
  people->addRow(tr("Incoming operator"), incoming_name_);
  people->addRow(tr("PIN"), incoming_pin_);

  auto* refresh = new QPushButton(tr("Refresh"), this);
  pdf_button_ = new QPushButton(tr("Save as PDF..."), this);
  sign_off_button_ = new QPushButton(tr("Sign off"), this);
  sign_off_button_->setObjectName(QStringLiteral("SignOffButton"));
  pdf_button_->setEnabled(false);
  sign_off_button_->setEnabled(false);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("HandoverStatus"));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(refresh);
  buttons->addWidget(pdf_button_);
  buttons->addWidget(sign_off_button_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_, 1);
  layout->addLayout(people);
  layout->addLayout(buttons);

  connect(refresh, &QPushButton::clicked, this, &QtHandoverDialog::Refresh);
  connect(pdf_button_, &QPushButton::clicked, this, &QtHandoverDialog::SavePdfAsked);
  connect(sign_off_button_, &QPushButton::clicked, this, &QtHandoverDialog::SignOffAsked);
}

void QtHandoverDialog::Refresh() {
  if (file_.empty()) {
    Say(tr("There is no journal to report from (the program folder is unknown)."), true);
    return;
  }
  const std::uint64_t asked = ++asked_;
  Say(tr("Reading the journal..."), false);
  // Read on a worker with a connection of its own: a long journal never holds the panel's loop.
  // The answer goes to the loop through the application, and is shown only if the window is
  // still there and asked for nothing since.
  QThreadPool::globalInstance()->start([file = file_, asked, self = QPointer(this)] {
    JournalReader reader;
    auto report = std::make_shared<HandoverReport>();
    sqlite::Result result = reader.Open(file);
    if (result.ok()) result = ReadHandoverReport(reader, {SystemJournalTime(), {}}, *report);
    const QString error = result.ok() ? QString() : QString::fromStdString(result.message);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, asked, report, error] {
          if (self.isNull() || self->asked_ != asked) return;
          self->Show(report, error);
        },
        Qt::QueuedConnection);
  });
}

void QtHandoverDialog::Show(std::shared_ptr<const HandoverReport> report, const QString& error) {
  if (!error.isEmpty()) {
    Say(tr("The journal cannot be read: %1").arg(error), true);
    return;
  }
  report_ = std::move(report);
  browser_->setHtml(HandoverHtml(*report_));
  pdf_button_->setEnabled(true);
  sign_off_button_->setEnabled(!signing_);
  Say(QString(), false);
}

std::string QtHandoverDialog::report_text() const {
  return report_ ? HandoverText(*report_) : std::string();
}

QString QtHandoverDialog::status_text() const {
  return status_->text();
}

void QtHandoverDialog::Say(const QString& text, bool error) {
  status_->setText(text);
  status_->setStyleSheet(error ? QStringLiteral("color: #b00000") : QString());
}

void QtHandoverDialog::SignOffAsked() {
  if (!report_ || signing_) return;
  const SignOffParty outgoing{outgoing_name_->text().trimmed().toStdString(),
                              outgoing_pin_->text().toStdString()};
  const SignOffParty incoming{incoming_name_->text().trimmed().toStdString(),
                              incoming_pin_->text().toStdString()};
  // A PIN stays in the window no longer than it takes to hand it over.
  outgoing_pin_->clear();
  incoming_pin_->clear();
  signing_ = true;
  sign_off_button_->setEnabled(false);
  Say(tr("Checking..."), false);
  sign_off_(outgoing, incoming, HandoverSha256(HandoverText(*report_)),
            [self = QPointer(this)](const SignOffOutcome& outcome) {
              if (self.isNull()) return;
              self->signing_ = false;
              self->Say(QString::fromStdString(outcome.text), !outcome.signed_off);
              if (!outcome.signed_off) {
                self->sign_off_button_->setEnabled(true);
                return;
              }
              // Signed once: the record is written at the next tick, and the report read again
              // then begins at it.
              self->outgoing_name_->clear();
              self->incoming_name_->clear();
              QTimer::singleShot(kReadAfterSignOffMs, self.data(), [self] {
                const QString said = self->status_text();
                self->Refresh();
                self->Say(said, false);
              });
            });
}

void QtHandoverDialog::SavePdfAsked() {
  if (!report_) return;
  const QString file =
      QFileDialog::getSaveFileName(this, tr("Save the handover report as PDF"),
                                   QStringLiteral("handover.pdf"), tr("PDF files (*.pdf)"));
  if (file.isEmpty()) return;
  QString error;
  if (WriteHandoverPdf(*report_, file, error))
    Say(tr("Saved %1").arg(file), false);
  else
    Say(tr("%1 cannot be written: %2").arg(file, error), true);
}

}  // namespace orv
