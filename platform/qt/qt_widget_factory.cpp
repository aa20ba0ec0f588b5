// The widget factory of the window: which Qt widget shows each kind of control, and how the
// operator's actions on it reach the window model, each as exactly one call of its setter.
#include <QAbstractSlider>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <limits>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_widgets.h"

namespace orv {
namespace {

// The picture box's sunken border, in pixels.
constexpr int kPictureBoxBorder = 2;

}  // namespace

QWidget* QtFormView::CreateWidget(Control& control, QWidget* parent) {
  switch (control.kind()) {
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(parent);
      auto& model = static_cast<PushButton&>(control);
      connect(button, &QPushButton::clicked, this,
              [this, &model] { CallModel([&model] { model.PerformClick(); }); });
      return button;
    }
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(parent);
      auto& model = static_cast<CheckBox&>(control);
      connect(box, &QCheckBox::clicked, this, [this, &model](bool checked) {
        CallModel([&model, checked] { model.SetValue(checked ? 1 : 0); });
      });
      return box;
    }
    case ControlKind::kOptionButton: {
      auto* option = new QRadioButton(parent);
      QButtonGroup*& group = option_groups_[control.container()];
      if (group == nullptr) {
        group = new QButtonGroup(this);
        group->setExclusive(true);
      }
      group->addButton(option);
      auto& model = static_cast<OptionButton&>(control);
      connect(option, &QRadioButton::clicked, this,
              [this, &model] { CallModel([&model] { model.SetValue(true); }); });
      return option;
    }
    case ControlKind::kFrame:
      return new QGroupBox(parent);
    case ControlKind::kComboBox: {
      auto* combo = new QComboBox(parent);
      auto& model = static_cast<ComboBox&>(control);
      connect(combo, &QComboBox::activated, this, [this, &model](int index) {
        CallModel([&model, index] { model.SetListIndex(index); });
      });
      if (model.style() == ComboBox::Style::kEditable) {
        combo->setEditable(true);
        // The list is the program's; typed text never becomes an item, nor is it completed to
        // one: "5" must stay 5, not become the first item that starts with it. The list still
        // offers its items.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, &model](const QString& t) {
          CallModel([&model, text = TypedText(t)] { model.SetText(text); });
        });
      }
      return combo;
    }
    case ControlKind::kLabel: {
      auto* label = new DblClickLabel(parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      auto& model = static_cast<Label&>(control);
      label->SetOnDoubleClick([this, &model] { CallModel([&model] { model.PerformDblClick(); }); });
      return label;
    }
    case ControlKind::kTextBox: {
      auto& model = static_cast<TextBox&>(control);
      if (model.multi_line()) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(true);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return edit;
      }
      auto* edit = new QLineEdit(parent);
      // The model keeps every bound; Qt's own default (32767) would cut the received text short.
      edit->setMaxLength(std::numeric_limits<int>::max());
      connect(edit, &QLineEdit::textEdited, this, [this, &model](const QString& t) {
        CallModel([&model, text = TypedText(t)] { model.SetText(text); });
      });
      // Enter commits an editor: the focus goes to its container, which raises Validate and
      // LostFocus in the model as any other focus move does.
      connect(edit, &QLineEdit::returnPressed, this, [this, &model] {
        if (QWidget* container = WidgetOf(model.container())) {
          container->setFocus(Qt::OtherFocusReason);
        }
      });
      return edit;
    }
    case ControlKind::kPictureBox: {
      auto* picture = new QFrame(parent);
      picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      picture->setLineWidth(kPictureBoxBorder);
      picture->setFocusPolicy(Qt::StrongFocus);
      return picture;
    }
    case ControlKind::kVScrollBar: {
      auto* bar = new QScrollBar(Qt::Vertical, parent);
      // Clicking the bar takes the focus (so an open name editor commits first), but Tab does
      // not stop there: the bar passes the focus straight on to the picture box.
      bar->setFocusPolicy(Qt::ClickFocus);
      auto& model = static_cast<VScrollBar&>(control);
      // Emitted with the new position before the bar takes it as its value: arrows, track
      // clicks, keys, the wheel and every step of a drag alike.
      connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, &model](int action) {
        if (action == QAbstractSlider::SliderNoAction) return;
        const int position = bar->sliderPosition();
        CallModel([&model, position] { model.SetValue(position); });
      });
      return bar;
    }
    case ControlKind::kShape:
      return new ShapeWidget(parent);
    case ControlKind::kLine:
      return new LineWidget(parent);
    case ControlKind::kImage:
    case ControlKind::kForm:
      break;
  }
  return new QLabel(parent);
}

}  // namespace orv
