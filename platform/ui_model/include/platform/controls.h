#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv {

// Headless window model: every control of the window as an object with plain properties. Setting
// a property from code raises the same events as the real toolkit does (a check box's Click when
// its value changes, a text box's Change when its text differs, ...); the operator's actions go
// through the very same setters, so each action raises exactly one event. A view (the Qt binding,
// or nothing in tests) mirrors the properties through the change observer.

enum class ControlKind {
  kPushButton,
  kCheckBox,
  kOptionButton,
  kFrame,
  kComboBox,
  kLabel,
  kTextBox,
  kPictureBox,
  kVScrollBar,
  kShape,
  kLine,
  kImage,
  kForm,
};

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

using Handler = std::function<void()>;

class Control {
 public:
  Control(ControlKind kind, std::string name, int index = -1);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  ControlKind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  int index() const { return index_; }  // -1 outside a control array
  // "Trigger_CheckBox_3" for an array element, the plain name otherwise.
  std::string QualifiedName() const;

  Control* container() const { return container_; }
  void set_container(Control* container) { container_ = container; }

  // Geometry in twips, relative to the container's client area.
  int left() const { return left_; }
  int top() const { return top_; }
  int width() const { return width_; }
  int height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int left);

  const std::string& caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  // What assistive technology says for the control: its purpose where no caption says it (a
  // lamp, a list, a text box), else its caption.
  const std::string& accessible_name() const {
    return accessible_name_.empty() ? caption_ : accessible_name_;
  }
  void SetAccessibleName(std::string name);
  bool enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool visible() const { return visible_; }
  void SetVisible(bool visible);
  // A visible control is shown only while every container up the chain is visible too.
  bool EffectivelyVisible() const;
  const Rgb* back_color() const { return has_back_color_ ? &back_color_ : nullptr; }
  void SetBackColor(Rgb color);

  // Events every kind can raise; each control handles only those the window wires up.
  Handler Click, DblClick, Change, GotFocus, LostFocus, Validate, Scroll;

  // Called after any property changed, for the view to mirror it. Never raises events.
  void SetObserver(std::function<void(Control&)> observer) { observer_ = std::move(observer); }

 protected:
  void Changed();
  static void Raise(const Handler& handler) {
    if (handler) handler();
  }

 private:
  ControlKind kind_;
  std::string name_;
  int index_;
  Control* container_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  std::string caption_;
  std::string accessible_name_;
  bool enabled_ = true;
  bool visible_ = true;
  bool has_back_color_ = false;
  Rgb back_color_;
  std::function<void(Control&)> observer_;
};

class PushButton : public Control {
 public:
  explicit PushButton(std::string name, int index = -1)
      : Control(ControlKind::kPushButton, std::move(name), index) {}
  // The operator's click (the view calls it; tests call it).
  void PerformClick() { Raise(Click); }
};

// Check box values: 0 clear, 1 ticked, 2 grayed.
class CheckBox : public Control {
 public:
  explicit CheckBox(std::string name, int index = -1)
      : Control(ControlKind::kCheckBox, std::move(name), index) {}
  int value() const { return value_; }
  // Raises Click when the value changes, from code or from the operator alike.
  void SetValue(int value);

 private:
  int value_ = 0;
};

class OptionButton : public Control {
 public:
  explicit OptionButton(std::string name, int index = -1)
      : Control(ControlKind::kOptionButton, std::move(name), index) {}
  bool value() const { return value_; }
  // Selecting an option clears the other options of its container and raises Click on it.
  void SetValue(bool value);
  void SetGroup(std::vector<OptionButton*> group) { group_ = std::move(group); }

 private:
  void SetValueQuietly(bool value);
  bool value_ = false;
  std::vector<OptionButton*> group_;
};

class Frame : public Control {
 public:
  explicit Frame(std::string name) : Control(ControlKind::kFrame, std::move(name)) {}
};

class ComboBox : public Control {
 public:
  enum class Style { kDropDownList, kEditable };
  ComboBox(std::string name, Style style)
      : Control(ControlKind::kComboBox, std::move(name)), style_(style) {}

  Style style() const { return style_; }
  const std::vector<std::string>& items() const { return items_; }
  void AddItem(const std::string& item);
  int list_index() const { return list_index_; }
  // Selecting an item (from code or by the operator) raises Click; the text follows the item.
  void SetListIndex(int index);
  const std::string& text() const { return text_; }
  // The typed text of an editable combo box; raises Change when it differs.
  void SetText(const std::string& text);
  const std::string& tool_tip() const { return tool_tip_; }
  void SetToolTip(const std::string& tip);

 private:
  Style style_;
  std::vector<std::string> items_;
  int list_index_ = -1;
  std::string text_;
  std::string tool_tip_;
};

class Label : public Control {
 public:
  explicit Label(std::string name, int index = -1)
      : Control(ControlKind::kLabel, std::move(name), index) {}
  void PerformDblClick() { Raise(DblClick); }
};

class TextBox : public Control {
 public:
  TextBox(std::string name, int index = -1, bool multi_line = false, int max_length = 0)
      : Control(ControlKind::kTextBox, std::move(name), index),
        multi_line_(multi_line),
        max_length_(max_length) {}

  bool multi_line() const { return multi_line_; }
  int max_length() const { return max_length_; }  // 0: no limit
  const std::string& text() const { return text_; }
  // Characters in the text (UTF-8 sequences, not bytes), kept up to date with every change.
  std::size_t char_count() const { return char_count_; }
  // Raises Change when the text differs. A text above the maximum length is cut to it.
  void SetText(const std::string& text);
  // Appends at the end (a zero-length selection there replaced by the text, the selection
  // start left after it), first dropping `drop_front` characters from the beginning; one
  // Change. Never copies or counts the whole text: only what it drops and adds.
  void AppendText(const std::string& text, std::size_t drop_front = 0);
  // The first character shown: the box scrolls back to its beginning when set to 0.
  int sel_start() const { return sel_start_; }
  void SetSelStart(int start);

 private:
  bool multi_line_;
  int max_length_;
  std::string text_;
  std::size_t char_count_ = 0;
  int sel_start_ = 0;
};

class PictureBox : public Control {
 public:
  explicit PictureBox(std::string name) : Control(ControlKind::kPictureBox, std::move(name)) {}
};

class VScrollBar : public Control {
 public:
  explicit VScrollBar(std::string name) : Control(ControlKind::kVScrollBar, std::move(name)) {}
  int value() const { return value_; }
  int min() const { return min_; }
  int max() const { return max_; }
  int small_change() const { return small_change_; }
  int large_change() const { return large_change_; }
  // Raises Change when the value (kept within min..max) differs.
  void SetValue(int value);
  // A maximum below the value pulls the value down with it (raising Change).
  void SetMax(int max);
  void SetLargeChange(int large_change);

 private:
  int value_ = 0, min_ = 0, max_ = 32767, small_change_ = 1, large_change_ = 1;
};

class Shape : public Control {
 public:
  static constexpr int kSolid = 0;
  static constexpr int kTransparent = 1;
  explicit Shape(std::string name, int index = -1)
      : Control(ControlKind::kShape, std::move(name), index) {}
  int fill_style() const { return fill_style_; }
  void SetFillStyle(int style);
  Rgb fill_color() const { return fill_color_; }
  void SetFillColor(Rgb color);

 private:
  int fill_style_ = kTransparent;
  Rgb fill_color_;
};

class Line : public Control {
 public:
  explicit Line(std::string name) : Control(ControlKind::kLine, std::move(name)) {}
  int x1() const { return x1_; }
  int y1() const { return y1_; }
  int x2() const { return x2_; }
  int y2() const { return y2_; }
  void SetEnds(int x1, int y1, int x2, int y2);

 private:
  int x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
};

class Image : public Control {
 public:
  explicit Image(std::string name, int index = -1)
      : Control(ControlKind::kImage, std::move(name), index) {}
};

// The window itself: its caption and outer height (twips) belong to the model as well.
class Form : public Control {
 public:
  explicit Form(std::string name) : Control(ControlKind::kForm, std::move(name)) {}
  int outer_height() const { return outer_height_; }
  void SetOuterHeight(int height);

 private:
  int outer_height_ = 0;
};

// Elements sharing one name; their events share one handler that receives the index.
template <typename T>
class ControlArray {
 public:
  template <typename... Args>
  ControlArray(const std::string& name, int count, Args... args) {
    for (int i = 0; i < count; ++i)
      items_.push_back(std::make_unique<T>(name, i, args...));
  }
  T& operator[](int i) { return *items_.at(static_cast<std::size_t>(i)); }
  const T& operator[](int i) const { return *items_.at(static_cast<std::size_t>(i)); }
  int size() const { return static_cast<int>(items_.size()); }

  // Binds one event of every element to a handler taking the element's index.
  void Bind(Handler Control::*event, const std::function<void(int)>& handler) {
    for (int i = 0; i < size(); ++i)
      (*this)[i].*event = [handler, i] { handler(i); };
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// The keyboard focus of one window: moving it raises Validate and LostFocus on the control
// that had it, then GotFocus on the new one.
class FocusTracker {
 public:
  Control* focused() const { return focused_; }
  void MoveFocus(Control* to);
  // Told the control that holds the focus after every move (a handler may have passed it on),
  // so that a view can give that control's widget the real keyboard focus.
  void SetObserver(std::function<void(Control*)> observer) { observer_ = std::move(observer); }

 private:
  Control* focused_ = nullptr;
  std::function<void(Control*)> observer_;
};

}  // namespace orv
