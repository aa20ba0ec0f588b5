#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>

#include "journal/journal_query.h"

namespace orv {

// The journal's records as a table, newest first: date and time (local, with year and seconds),
// kind, text, detail, user. Rows are read a page at a time as the view scrolls down (canFetchMore /
// fetchMore), and records committed later are put on top without reading the rest again.
class QtHistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kKind, kText, kDetail, kUser, kColumnCount };

  explicit QtHistoryModel(JournalReader& reader, QObject* parent = nullptr);

  // Starts over with filter: the newest page of what matches.
  sqlite::Result SetFilter(const JournalFilter& filter);
  // Matching records committed up to until (0: whatever there is) go on top.
  sqlite::Result TakeNewer(std::int64_t until);
  const JournalHistory& history() const { return history_; }
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
  JournalHistory history_;
};

}  // namespace orv
