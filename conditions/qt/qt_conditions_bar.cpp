// The status bar's conditions and their window.
#include "conditions/qt/qt_conditions_bar.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "conditions/condition_book.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"

namespace orv {
namespace {

// The bar names the alarms and counts the rest; the window lists them all.
constexpr std::size_t kRoomInTheBar = 0;

QColor Colour(const Condition& c) {
  if (c.shelved()) return QColor(255, 240, 150);  // yellow: knowingly set aside
  if (c.kind == ConditionKind::kAlarm) return QColor(255, 190, 190);
  return c.present && !c.acknowledged ? QColor(255, 225, 190) : QColor(Qt::white);
}

// The operator reads the times where he sits: local time, as the events log has it.
std::string LocalTimeOfDay(std::int64_t utc_ms) {
  return QDateTime::fromMSecsSinceEpoch(utc_ms).toString(QStringLiteral("HH:mm:ss")).toStdString();
}

}  // namespace

QtConditionsBar::QtConditionsBar(QtFormView& view, AcknowledgeFn acknowledge, ShelveFn shelve)
    : view_(view), acknowledge_(std::move(acknowledge)), shelve_(std::move(shelve)) {
  button_ = new QPushButton(QObject::tr("No conditions"), view_.notice_bar());
  button_->setObjectName(QStringLiteral("ConditionsButton"));
  button_->setToolTip(QObject::tr("What stands, alarms first: acknowledge or shelve it"));
  // The designed controls keep the keyboard focus to themselves.
  button_->setFocusPolicy(Qt::NoFocus);
  view_.notice_bar()->addPermanentWidget(button_);
  QObject::connect(button_, &QPushButton::clicked, button_, [this] { Open(); });
}

void QtConditionsBar::Show(const std::vector<Condition>& conditions) {
  shown_ = conditions;
  const ConditionSummary summary = Summarize(shown_, kRoomInTheBar);
  button_->setText(QString::fromStdString(SummaryText(summary)));
  QPalette palette = button_->palette();
  palette.setColor(QPalette::ButtonText, summary.alarms > 0   ? QColor(Qt::red)
                                         : summary.faults > 0 ? QColor(Qt::darkRed)
                                                              : QColor(Qt::black));
  button_->setPalette(palette);
  if (list_ == nullptr) return;
  const std::string selected = Selected();
  list_->clear();
  // The faults-only view: what is wrong with the system, the alarms left out of the list.
  const ConditionSummary listed = Summarize(shown_, shown_.size(), faults_only_->isChecked());
  for (const Condition* shown : listed.shown) {
    const Condition& c = *shown;
    auto* item =
        new QListWidgetItem(QString::fromStdString(ConditionRowText(c, LocalTimeOfDay)), list_);
    item->setData(Qt::UserRole, QString::fromStdString(c.id));
    item->setBackground(Colour(c));
    item->setForeground(QColor(Qt::black));
    if (c.id == selected) list_->setCurrentItem(item);
  }
}

std::string QtConditionsBar::Selected() const {
  const QListWidgetItem* item = list_ != nullptr ? list_->currentItem() : nullptr;
  return item != nullptr ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

void QtConditionsBar::Open() {
  if (window_ == nullptr) {
    // A window of its own, not modal: the panel goes on while it is open.
    window_ = new QDialog(&view_);
    window_->setObjectName(QStringLiteral("ConditionsWindow"));
    window_->setWindowTitle(QObject::tr("Conditions"));
    window_->setModal(false);
    list_ = new QListWidget(window_);
    list_->setObjectName(QStringLiteral("ConditionsList"));
    text_ = new QLineEdit(window_);
    text_->setObjectName(QStringLiteral("ConditionText"));
    text_->setPlaceholderText(QObject::tr("Comment, or the reason for a shelf"));
    text_->setMaxLength(200);
    minutes_ = new QSpinBox(window_);
    minutes_->setObjectName(QStringLiteral("ShelfMinutes"));
    minutes_->setRange(1, 24 * 60);
    minutes_->setValue(60);
    minutes_->setSuffix(QObject::tr(" min"));
    faults_only_ = new QCheckBox(QObject::tr("Faults only"), window_);
    faults_only_->setObjectName(QStringLiteral("FaultsOnly"));
    QObject::connect(faults_only_, &QCheckBox::toggled, window_, [this] { Show(shown_); });
    auto* acknowledge = new QPushButton(QObject::tr("Acknowledge"), window_);
    acknowledge->setObjectName(QStringLiteral("AcknowledgeButton"));
    auto* shelve = new QPushButton(QObject::tr("Shelve"), window_);
    shelve->setObjectName(QStringLiteral("ShelveButton"));
    auto* row = new QHBoxLayout;
    row->addWidget(text_, 1);
    row->addWidget(acknowledge);
    row->addWidget(new QLabel(QObject::tr("for"), window_));
    row->addWidget(minutes_);
    row->addWidget(shelve);
    auto* layout = new QVBoxLayout(window_);
    layout->addWidget(faults_only_);
    layout->addWidget(list_, 1);
    layout->addLayout(row);
    window_->resize(640, 360);
    QObject::connect(acknowledge, &QPushButton::clicked, window_, [this] {
      if (const std::string id = Selected(); !id.empty())
        acknowledge_(id, text_->text().toStdString());
    });
    QObject::connect(shelve, &QPushButton::clicked, window_, [this] {
      if (const std::string id = Selected(); !id.empty())
        shelve_(id, text_->text().toStdString(), minutes_->value());
    });
    Show(shown_);
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace orv
