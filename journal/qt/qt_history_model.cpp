#include "journal/qt/qt_history_model.h"

#include <QPointer>
#include <algorithm>
#include <utility>

namespace orv {

QtHistoryModel::QtHistoryModel(HistorySource& source, QObject* parent)
    : QAbstractTableModel(parent), source_(source) {}

void QtHistoryModel::SetFilter(const JournalFilter& filter) {
  beginResetModel();
  filter_ = filter;
  rows_.clear();
  started_ = false;
  newest_seen_ = 0;
  oldest_seen_ = 0;
  more_ = false;
  // A page still awaited was for the filter before: it is dropped when it comes.
  ++epoch_;
  first_wanted_ = true;
  older_wanted_ = false;
  newer_wanted_ = false;
  newer_until_ = 0;
  endResetModel();
  Ask();
}

void QtHistoryModel::WantNewer(std::int64_t until) {
  // Up to the end wins over any bound; else the furthest bound.
  newer_until_ =
      until == 0 || (newer_wanted_ && newer_until_ == 0) ? 0 : std::max(newer_until_, until);
  newer_wanted_ = true;
}

void QtHistoryModel::TakeNewer(std::int64_t until) {
  WantNewer(until);
  Ask();
}

void QtHistoryModel::Ask() {
  if (waiting_) return;
  JournalPageQuery query;
  query.filter = filter_;
  if (first_wanted_) {
    first_wanted_ = false;
  } else if (started_ && newer_wanted_) {
    newer_wanted_ = false;
    query.newer = true;
    query.after = newest_seen_;
    query.until = std::exchange(newer_until_, 0);
  } else if (started_ && older_wanted_ && more_) {
    older_wanted_ = false;
    query.before = oldest_seen_;
  } else {
    return;
  }
  waiting_ = true;
  // The source may answer after this model is gone, or after the filter changed.
  source_.Read(query, [self = QPointer<QtHistoryModel>(this), query, epoch = epoch_](
                          const std::string& error, JournalPage page) {
    if (self.isNull()) return;
    self->waiting_ = false;
    if (epoch == self->epoch_) self->Answered(query, error, std::move(page));
    self->Ask();
  });
}

void QtHistoryModel::Answered(const JournalPageQuery& query, const std::string& error,
                              JournalPage page) {
  if (!error.empty()) {
    emit readFailed(QString::fromStdString(error));
    return;
  }
  const int count = static_cast<int>(page.rows.size());
  if (!query.newer) {
    if (query.before == 0) {
      // Everything up to the journal's end as it was then is what the older pages cover.
      started_ = true;
      newest_seen_ = std::max(newest_seen_, page.newest_seen);
    }
    more_ = page.more;
    oldest_seen_ = page.oldest_seen;
    // A page whose span held nothing that matches: the view asks for more only when rows come
    // (it asks as long as the last row shows), so the next is asked for here.
    if (more_ && count == 0) older_wanted_ = true;
    if (count > 0) {
      const int first = rowCount();
      beginInsertRows({}, first, first + count - 1);
      for (JournalRow& row : page.rows)
        rows_.push_back(std::move(row));
      endInsertRows();
    }
  } else {
    newest_seen_ = std::max(newest_seen_, page.newest_seen);
    if (count > 0) {
      beginInsertRows({}, 0, count - 1);
      for (auto row = page.rows.rbegin(); row != page.rows.rend(); ++row)
        rows_.push_front(std::move(*row));
      endInsertRows();
    }
    // More came than one page holds: the rest follows.
    if (page.more) WantNewer(query.until);
  }
  emit rowsRead();
}

const JournalRow& QtHistoryModel::row(int index) const {
  return rows_[static_cast<std::size_t>(index)];
}

int QtHistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int QtHistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant QtHistoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const JournalRow& r = row(index.row());
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case kTime:
        return QString::fromStdString(FormatJournalLocalTime(r.entry.time));
      case kKind:
        return QString::fromUtf8(JournalKindName(r.entry.kind).data(),
                                 static_cast<qsizetype>(JournalKindName(r.entry.kind).size()));
      case kText:
        return QString::fromStdString(r.entry.text);
      case kDetail:
        return QString::fromStdString(r.entry.detail);
      case kUser:
        return QString::fromStdString(r.entry.login);
    }
  } else if (role == Qt::ToolTipRole) {
    // What the columns leave out: the record's number, its host, the UTC offset, the frame.
    QString tip =
        QStringLiteral("#%1, %2, %3@%4")
            .arg(r.sequence)
            .arg(QString::fromStdString(FormatJournalIsoTime(r.entry.time)),
                 QString::fromStdString(r.entry.login), QString::fromStdString(r.entry.host));
    if (!r.entry.raw_hex.empty())
      tip += QStringLiteral("\nframe %1").arg(QString::fromStdString(r.entry.raw_hex));
    return tip;
  }
  return {};
}

QVariant QtHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kTime:
      return tr("Date and time");
    case kKind:
      return tr("Kind");
    case kText:
      return tr("Text");
    case kDetail:
      return tr("Detail");
    case kUser:
      return tr("User");
  }
  return {};
}

bool QtHistoryModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && started_ && more_;
}

void QtHistoryModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid()) return;
  older_wanted_ = true;
  Ask();
}

}  // namespace orv
