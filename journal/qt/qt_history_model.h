#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <deque>

#include "journal/journal_page.h"
#include "journal/qt/qt_history_source.h"

namespace orv {

// The journal's records as a table, newest first: date and time (local, with year and seconds),
// kind, text, detail, user. Rows are read a page at a time as the view scrolls down (canFetchMore /
// fetchMore), and records committed later are put on top without reading the rest again. The
// pages come from a source that may answer at once (the file) or later (the service): one page
// is asked for at a time, and what is wanted meanwhile is asked for when its answer comes.
class QtHistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kKind, kText, kDetail, kUser, kColumnCount };

  explicit QtHistoryModel(HistorySource& source, QObject* parent = nullptr);

  // Starts over with filter: the newest page of what matches.
  void SetFilter(const JournalFilter& filter);
  // Matching records committed up to until (0: whatever there is) go on top.
  void TakeNewer(std::int64_t until);
  const JournalFilter& filter() const { return filter_; }
  // Older matching records remain to be read.
  bool more() const { return more_; }
  // The first page of the filter came: newer records can be taken.
  bool started() const { return started_; }
  const JournalRow& row(int index) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 signals:
  // Rows were read (or it turned out there are no more), whether or not any came.
  void rowsRead();
  // Reading failed; the text says why.
  void readFailed(const QString& reason);

 private:
  // Asks for what is wanted when no page is awaited.
  void Ask();
  void Answered(const JournalPageQuery& query, const std::string& error, JournalPage page);
  void WantNewer(std::int64_t until);

  HistorySource& source_;
  JournalFilter filter_;
  std::deque<JournalRow> rows_;
  bool started_ = false;  // the first page came: newest_seen_ is known
  std::int64_t newest_seen_ = 0;
  std::int64_t oldest_seen_ = 0;  // the next older page starts below it
  bool more_ = false;
  bool waiting_ = false;     // a page is asked for
  std::uint64_t epoch_ = 0;  // counts filters: an answer for an earlier one is dropped
  bool first_wanted_ = false;
  bool older_wanted_ = false;
  bool newer_wanted_ = false;
  std::int64_t newer_until_ = 0;  // 0: the journal's end
};

}  // namespace orv
