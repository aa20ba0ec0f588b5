#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "journal/journal_query.h"
#include "journal/qt/qt_history_button.h"
#include "journal/qt/qt_history_source.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QTableView;

namespace orv {

class QtFormView;
class QtHistoryModel;

// The journal's history in a window of its own: a table of the records, newest first, with
// filters for a time span (each end on or off), one kind and free text; records committed while
// it is open appear on top. The filtered records go to a CSV file, a printer or a PDF. Problems
// are said in the window's own status line, never in a box, so the program's tick runs on.
// A window attached to the service shows the service's journal, page by page over its socket;
// the file is not its to read, so it exports and prints nothing.
class QtHistoryWindow : public QWidget {
  Q_OBJECT

 public:
  // An empty journal_file: there is none (the program folder is unknown).
  explicit QtHistoryWindow(std::filesystem::path journal_file, QWidget* parent = nullptr);
  // The pages from source, which outlives the window.
  explicit QtHistoryWindow(HistorySource& source, QWidget* parent = nullptr);
  QtHistoryWindow(const QtHistoryWindow&) = delete;
  QtHistoryWindow& operator=(const QtHistoryWindow&) = delete;

  // The journal committed records up to sequence: those that match go on top (while shown).
  void OnCommitted(std::int64_t sequence);
  // Reads the table again with the filters as they are set now.
  void ApplyFilter();
  JournalFilter CurrentFilter() const;

  // The filtered records, oldest first, as CSV into file; false (and the status line says why)
  // when it cannot be written.
  bool ExportCsv(const QString& file);
  // The filtered records, as the table shows them, as a PDF file.
  bool SaveAsPdf(const QString& file);
  // Records put on paper at most, newest first: a printout is for a span, not the whole journal.
  static constexpr int kPrintLimit = 5000;

  // A button of another room's among the window's own (the shift handover's).
  QPushButton* AddButton(const QString& text, std::function<void()> clicked);

  QtHistoryModel* model() const { return model_; }
  QTableView* table() const { return table_; }
  QString status_text() const;
  // The text filter waits this long after the last key before the table is read again.
  static constexpr int kTypingPauseMs = 300;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QtHistoryWindow(std::filesystem::path journal_file, HistorySource* source, QWidget* parent);
  bool OpenReader();
  void ShowStatus(const QString& text, bool error);
  void ShowCount();
  void ExportCsvAsked();
  void PrintAsked();
  void SaveAsPdfAsked();
  // Puts the filtered records into printer; false when there is nothing to print.
  bool Render(QPrinter& printer);

  std::filesystem::path file_;
  JournalReader reader_;
  FileHistorySource file_source_{reader_};
  // The service's, for an attached window; null: the file's.
  HistorySource* source_ = nullptr;
  QtHistoryModel* model_ = nullptr;
  QTableView* table_ = nullptr;
  QCheckBox* from_on_ = nullptr;
  QDateTimeEdit* from_ = nullptr;
  QCheckBox* to_on_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QComboBox* kind_ = nullptr;
  QLineEdit* text_ = nullptr;
  QLabel* status_ = nullptr;
  QHBoxLayout* buttons_ = nullptr;
  QTimer typing_pause_;
};

}  // namespace orv
