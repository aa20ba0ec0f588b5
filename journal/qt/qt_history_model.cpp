#include "journal/qt/qt_history_model.h"

#include <utility>

namespace orv {

QtHistoryModel::QtHistoryModel(JournalReader& reader, QObject* parent)
    : QAbstractTableModel(parent), history_(reader) {}

sqlite::Result QtHistoryModel::SetFilter(const JournalFilter& filter) {
  beginResetModel();
  const sqlite::Result result = history_.Reset(filter);
  endResetModel();
  if (!result.ok()) {
    emit readFailed(QString::fromStdString(result.message));
  } else {
    emit rowsRead();
  }
  return result;
}

sqlite::Result QtHistoryModel::TakeNewer(std::int64_t until) {
  JournalHistory::Page page;
  const sqlite::Result result = history_.ReadNewer(until, page);
  if (!result.ok()) {
    emit readFailed(QString::fromStdString(result.message));
    return result;
  }
  const int count = static_cast<int>(page.rows.size());
  if (count == 0) {
    history_.PutNewer(std::move(page));
  } else {
    beginInsertRows({}, 0, count - 1);
    history_.PutNewer(std::move(page));
    endInsertRows();
  }
  emit rowsRead();
  return result;
}

const JournalRow& QtHistoryModel::row(int index) const {
  return history_.rows()[static_cast<std::size_t>(index)];
}

int QtHistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(history_.rows().size());
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
  return !parent.isValid() && history_.CanFetchMore();
}

void QtHistoryModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid()) return;
  JournalHistory::Page page;
  const sqlite::Result result = history_.ReadOlder(page);
  if (!result.ok()) {
    emit readFailed(QString::fromStdString(result.message));
    return;
  }
  const int first = rowCount();
  const int count = static_cast<int>(page.rows.size());
  if (count == 0) {
    history_.PutOlder(std::move(page));  // the page before was the last
  } else {
    beginInsertRows({}, first, first + count - 1);
    history_.PutOlder(std::move(page));
    endInsertRows();
  }
  emit rowsRead();
}

}  // namespace orv
