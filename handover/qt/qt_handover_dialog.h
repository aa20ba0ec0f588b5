#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "handover/handover_report.h"
#include "handover/handover_signoff.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;

namespace orv {

// The shift handover report in a window of its own, opened from the history window: the report
// read off the loop and shown when it comes, Save as PDF..., and the sign-off, where the
// outgoing and the incoming operator each give name and PIN. What the sign-off says is in the
// window's status line, never in a box.
class QtHandoverDialog : public QWidget {
  Q_OBJECT

 public:
  // Checks both operators and records the sign-off; done is called once, on the loop.
  using SignOffFn = std::function<void(const SignOffParty& outgoing, const SignOffParty& incoming,
                                       const std::string& sha256,
                                       std::function<void(const SignOffOutcome&)> done)>;

  QtHandoverDialog(std::filesystem::path journal_file, SignOffFn sign_off,
                   QWidget* parent = nullptr);

  // Reads the report again, up to now, on a worker; shown when it comes.
  void Refresh();
  bool has_report() const { return report_ != nullptr; }
  // The report's text as shown, which a sign-off hashes.
  std::string report_text() const;
  QString status_text() const;

 private:
  void Show(std::shared_ptr<const HandoverReport> report, const QString& error);
  void SignOffAsked();
  void SavePdfAsked();
  void Say(const QString& text, bool error);

  std::filesystem::path file_;
  SignOffFn sign_off_;
  std::shared_ptr<const HandoverReport> report_;
  std::uint64_t asked_ = 0;  // the latest read asked for: an older answer is not shown
  bool signing_ = false;
  QTextBrowser* browser_ = nullptr;
  QLineEdit* outgoing_name_ = nullptr;
  QLineEdit* outgoing_pin_ = nullptr;
  QLineEdit* incoming_name_ = nullptr;
  QLineEdit* incoming_pin_ = nullptr;
  QPushButton* sign_off_button_ = nullptr;
  QPushButton* pdf_button_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace orv
