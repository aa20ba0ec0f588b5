#include "platform/qt/qt_form_view.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_widgets.h"

namespace orv {
namespace {

constexpr int kTwipsPerInch = 1440;
// The size the window's controls were laid out for: the longest key caption fits its key.
constexpr double kFontPointSize = 8.25;

QString ToQString(const std::string& text) {
  return QString::fromStdString(text);
}

QColor ToQColor(Rgb c) {
  return QColor(c.r, c.g, c.b);
}

// The window's text is Arial; Liberation Sans has the same metrics where Arial is missing. The
// font's own fallback list, not a look through every family: that would cost start-up its time.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setPointSizeF(kFontPointSize);
  return font;
}

double ScreenLogicalDpi(const QWidget* widget) {
  const QScreen* screen = widget->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

}  // namespace

QtFormView::QtFormView(Form& form, const std::vector<Control*>& controls, FocusTracker& focus,
                       std::function<void()> on_close, QWidget* parent)
    : QWidget(parent),
      form_(form),
      controls_(controls),
      focus_(focus),
      on_close_(std::move(on_close)) {
  setObjectName(ToQString(form_.QualifiedName()));
  dpi_ = ScreenLogicalDpi(this);
  setFont(WindowFont());
  widgets_[&form_] = this;
  // Below the client area, which keeps its designed size: the window grows by the bar.
  notice_bar_ = new QtNoticeBar(this);


  for (Control* control : controls_) {
    const auto container = widgets_.find(control->container());
    QWidget* parent_widget = container != widgets_.end() ? container->second : this;
    QWidget* widget = CreateWidget(*control, parent_widget);
    widget->setObjectName(ToQString(control->QualifiedName()));
    widgets_[control] = widget;
    controls_by_widget_[widget] = control;
  }

  form_.SetObserver([this](Control&) { MirrorForm(); });
  for (Control* control : controls_)
    control->SetObserver([this](Control& c) { Mirror(c); });
  focus_.SetObserver([this](Control*) {
    if (model_depth_ == 0) GiveQtFocusToModelFocus();
  });
  focus_connection_ = connect(qApp, &QApplication::focusChanged, this,
                              [this](QWidget*, QWidget* now) { OnQtFocusChanged(now); });

  MirrorForm();
  for (Control* control : controls_)
    Mirror(*control);
  FlushText();
}

QtFormView::~QtFormView() {
  // The child widgets go after this body; nothing they do on the way may reach the model.
  disconnect(focus_connection_);
  text_.Stop();
  focus_.SetObserver(nullptr);
  form_.SetObserver(nullptr);
  for (Control* control : controls_)
    control->SetObserver(nullptr);
}

int QtFormView::ToPixels(int twips) const {
  return static_cast<int>(std::lround(twips * dpi_ / kTwipsPerInch));
}

QWidget* QtFormView::WidgetOf(const Control* control) const {
  const auto it = widgets_.find(control);
  return it != widgets_.end() ? it->second : nullptr;
}

Control* QtFormView::ControlOf(const QWidget* widget) const {
  for (const QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget()) {
    const auto it = controls_by_widget_.find(w);
    if (it != controls_by_widget_.end()) return it->second;
  }
  return nullptr;
}

QPoint QtFormView::ClientOrigin(const Control* container) const {
  if (container != nullptr && container->kind() == ControlKind::kPictureBox) {
    if (const auto* frame = qobject_cast<const QFrame*>(WidgetOf(container))) {
      return frame->contentsRect().topLeft();
    }
  }
  return {0, 0};
}

void QtFormView::Mirror(Control& control) {
  QWidget* widget = WidgetOf(&control);
  if (widget == nullptr) return;
  MirrorGeometry(control, widget);
  // A new widget, neither shown nor hidden by name, would appear with its parent: tell it.
  if (!widget->testAttribute(Qt::WA_WState_ExplicitShowHide) ||
      widget->isHidden() == control.visible()) {
    widget->setVisible(control.visible());
  }
  if (widget->isEnabled() != control.enabled()) widget->setEnabled(control.enabled());
  const QString accessible = ToQString(control.accessible_name());
  if (widget->accessibleName() != accessible) widget->setAccessibleName(accessible);
  MirrorKind(control, widget);
}

void QtFormView::MirrorForm() {
  setWindowTitle(ToQString(form_.caption()) + title_suffix_);
  const int client_height =
      form_.outer_height() > 0 ? form_.outer_height() - kCaptionAndBorderTwips : form_.height();
  const QSize size(ToPixels(form_.width()), ToPixels(client_height) + notice_bar_->height());
  if (this->size() != size) resize(size);
}

void QtFormView::ShowNotices(NoticeLog& log) {
  notice_bar_->Follow(log);
}

void QtFormView::SetTitleSuffix(const QString& suffix) {
  title_suffix_ = suffix;
  setWindowTitle(ToQString(form_.caption()) + title_suffix_);
}

void QtFormView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int bar_height = notice_bar_->height();
  notice_bar_->setGeometry(0, height() - bar_height, width(), bar_height);
  text_.QueueUnseen();
}

void QtFormView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  text_.QueueUnseen();
}

void QtFormView::MirrorGeometry(Control& control, QWidget* widget) {
  const QPoint origin = ClientOrigin(control.container());
  QRect box;
  if (control.kind() == ControlKind::kLine) {
    const auto& line = static_cast<const Line&>(control);
    const QPoint a(ToPixels(line.x1()), ToPixels(line.y1()));
    const QPoint b(ToPixels(line.x2()), ToPixels(line.y2()));
    const QPoint top_left(std::min(a.x(), b.x()), std::min(a.y(), b.y()));
    box = QRect(top_left, QSize(std::abs(b.x() - a.x()) + 1, std::abs(b.y() - a.y()) + 1));
    static_cast<LineWidget*>(widget)->SetLine(QLine(a - top_left, b - top_left));
  } else {
    box = QRect(ToPixels(control.left()), ToPixels(control.top()), ToPixels(control.width()),
                ToPixels(control.height()));
  }
  box.translate(origin);
  if (widget->geometry() != box) widget->setGeometry(box);
}

void QtFormView::MirrorKind(Control& control, QWidget* widget) {
  const QSignalBlocker blocker(widget);
  const QString caption = ToQString(control.caption());
  switch (control.kind()) {
    case ControlKind::kPushButton: {
      auto* button = static_cast<QPushButton*>(widget);
      button->setText(caption);
      if (const Rgb* color = control.back_color()) {
        // A flat face in exactly the key's colour with a raised border: the styles' own
        // gradients would wash the colour out, and some styles ignore the palette altogether.
        const QString face = ToQColor(*color).name();
        const QString sheet =
            QStringLiteral(
                "QPushButton { background-color: %1; border: 2px outset %1; padding: 0px; }"
                "QPushButton:pressed { border-style: inset; }"
                "QPushButton:disabled { color: #808080; }")
                .arg(face);
        if (button->styleSheet() != sheet) {
          button->setStyleSheet(sheet);
          button->setAutoFillBackground(true);
        }
      }
      break;
    }
    case ControlKind::kCheckBox: {
      auto* box = static_cast<QCheckBox*>(widget);
      box->setText(caption);
      const int value = static_cast<const CheckBox&>(control).value();
      // Grayed is a state the program sets; the operator's click only ticks or clears.
      box->setTristate(value == 2);
      box->setCheckState(value == 2   ? Qt::PartiallyChecked
                         : value != 0 ? Qt::Checked
                                      : Qt::Unchecked);
      break;
    }
    case ControlKind::kOptionButton: {
      auto* option = static_cast<QRadioButton*>(widget);
      option->setText(caption);
      const bool value = static_cast<const OptionButton&>(control).value();
      if (option->isChecked() != value) {
        // An exclusive group refuses to clear its checked button; the model may clear them all.
        QButtonGroup* group = option->group();
        if (group != nullptr && !value) group->setExclusive(false);
        option->setChecked(value);
        if (group != nullptr) group->setExclusive(true);
      }
      break;
    }
    case ControlKind::kFrame:
      static_cast<QGroupBox*>(widget)->setTitle(caption);
      break;
    case ControlKind::kComboBox: {
      auto* combo = static_cast<QComboBox*>(widget);
      const auto& model = static_cast<const ComboBox&>(control);
      QStringList items;
      for (const std::string& item : model.items())
        items << ToQString(item);
      bool same = combo->count() == items.size();
      for (int i = 0; same && i < combo->count(); ++i)
        same = combo->itemText(i) == items[i];
      if (!same) {
        combo->clear();
        combo->addItems(items);
      }
      if (combo->currentIndex() != model.list_index()) combo->setCurrentIndex(model.list_index());
      if (combo->isEditable()) {
        const QString text = ShownText(model.text(), false);
        if (combo->currentText() != text) combo->setEditText(text);
      }
      combo->setToolTip(ToQString(model.tool_tip()));
      break;
    }
    case ControlKind::kLabel:
      static_cast<QLabel*>(widget)->setText(caption);
      break;
    case ControlKind::kTextBox:
      text_.Queue(static_cast<TextBox&>(control));
      break;
    case ControlKind::kVScrollBar: {
      auto* bar = static_cast<QScrollBar*>(widget);
      const auto& model = static_cast<const VScrollBar&>(control);
      bar->setRange(model.min(), std::max(model.min(), model.max()));
      bar->setSingleStep(model.small_change());
      bar->setPageStep(model.large_change());
      if (bar->value() != model.value()) bar->setValue(model.value());
      break;
    }
    case ControlKind::kShape: {
      const auto& shape = static_cast<const Shape&>(control);
      static_cast<ShapeWidget*>(widget)->SetFill(shape.fill_style() == Shape::kSolid,
                                                 ToQColor(shape.fill_color()));
      break;
    }
    case ControlKind::kPictureBox:
    case ControlKind::kLine:
    case ControlKind::kImage:
    case ControlKind::kForm:
      break;
  }
}

void QtFormView::OnQtFocusChanged(QWidget* now) {
  if (setting_focus_ || model_depth_ > 0 || now == nullptr) return;
  Control* control = ControlOf(now);
  if (control == nullptr) return;
  CallModel([this, control] { focus_.MoveFocus(control); });
}

void QtFormView::GiveQtFocusToModelFocus() {
  Control* target = focus_.focused();
  QWidget* widget = WidgetOf(target);
  if (widget == nullptr || widget == this) return;
  if (ControlOf(QApplication::focusWidget()) == target) return;
  if (!widget->isVisibleTo(this) || !widget->isEnabled()) return;
  setting_focus_ = true;
  widget->setFocus(Qt::OtherFocusReason);
  setting_focus_ = false;
}

void QtFormView::CallModel(const std::function<void()>& call) {
  ++model_depth_;
  call();
  if (--model_depth_ == 0) GiveQtFocusToModelFocus();
}

void QtFormView::closeEvent(QCloseEvent* event) {
  if (on_close_) CallModel(on_close_);
  event->accept();
}

}  // namespace orv
