#pragma once

#include <QMetaObject>
#include <QWidget>
#include <chrono>
#include <functional>
#include <unordered_map>
#include <vector>

#include "platform/controls.h"
#include "platform/qt/qt_text_mirror.h"

class QButtonGroup;

namespace orv {

class NoticeLog;
class QtNoticeBar;

// The real window over the headless window model: one widget per control, kept in step with the
// model through the controls' observers, and each operator action turned into exactly one call of
// the model's setter for it. The model stays the truth, for the keyboard focus as well. The form,
// its controls and the focus tracker must outlive the view.
class QtFormView : public QWidget {
  Q_OBJECT

 public:
  // controls: containers before what they contain. on_close runs when the window is closed (it
  // always may close). The view only draws and passes the operator's actions on: the program
  // drives its own timer, through CallModel().
  QtFormView(Form& form, const std::vector<Control*>& controls, FocusTracker& focus,
             std::function<void()> on_close, QWidget* parent = nullptr);
  ~QtFormView() override;
  QtFormView(const QtFormView&) = delete;
  QtFormView& operator=(const QtFormView&) = delete;

  // Device-independent pixels for a length in twips at the screen's logical dpi.
  int ToPixels(int twips) const;
  double logical_dpi() const { return dpi_; }
  QWidget* WidgetOf(const Control* control) const;
  // The control a widget belongs to; a combo box's inner line edit belongs to the combo box.
  Control* ControlOf(const QWidget* widget) const;
  // The status bar under the controls, and the notices it shows from now on.
  QtNoticeBar* notice_bar() const { return notice_bar_; }
  void ShowNotices(NoticeLog& log);
  // Shown after the model's caption in the title (the caption itself stays as it is): what the
  // taskbar must say while the window is minimised.
  void SetTitleSuffix(const QString& suffix);
  // Shows the text changes held back for coalescing now, instead of at the next event-loop turn
  // or once the box's tick has passed.
  void FlushText() { text_.Flush(); }
  static constexpr std::chrono::milliseconds kTextInterval = QtTextMirror::kInterval;
  bool text_pending() const { return text_.pending(); }
  // Every call into the model goes through here, the program's own timer ticks too: focus
  // changes that Qt makes on its own while the model runs (a focused widget hidden, a modal box
  // opened) are not operator actions; when the outermost call returns, the real focus is put
  // where the model says it is.
  void CallModel(const std::function<void()>& call);

  // What caption and border take of the window's outer height, in twips.
  static constexpr int kCaptionAndBorderTwips = 435;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* CreateWidget(Control& control, QWidget* parent);
  QPoint ClientOrigin(const Control* container) const;
  void Mirror(Control& control);
  void MirrorForm();
  void MirrorGeometry(Control& control, QWidget* widget);
  void MirrorKind(Control& control, QWidget* widget);
  void OnQtFocusChanged(QWidget* now);
  void GiveQtFocusToModelFocus();

  Form& form_;
  std::vector<Control*> controls_;
  FocusTracker& focus_;
  std::function<void()> on_close_;
  double dpi_ = 96.0;

  std::unordered_map<const Control*, QWidget*> widgets_;
  std::unordered_map<const QWidget*, Control*> controls_by_widget_;
  std::unordered_map<const Control*, QButtonGroup*> option_groups_;  // by container

  QtNoticeBar* notice_bar_ = nullptr;
  QString title_suffix_;
  QtTextMirror text_{[this](const Control* control) { return WidgetOf(control); }, this};
  QMetaObject::Connection focus_connection_;
  int model_depth_ = 0;
  bool setting_focus_ = false;
};

}  // namespace orv
