#include "platform/controls.h"

#include <algorithm>
#include <cstdlib>

#include "platform/text_encoding.h"

namespace orv {

Control::Control(ControlKind kind, std::string name, int index)
    : kind_(kind), name_(std::move(name)), index_(index) {}

std::string Control::QualifiedName() const {
  return index_ < 0 ? name_ : name_ + "_" + std::to_string(index_);
}

void Control::Changed() {
  if (observer_) observer_(*this);
}

void Control::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed();
}

void Control::SetLeft(int left) {
  if (left_ == left) return;
  left_ = left;
  Changed();
}

void Control::SetAccessibleName(std::string name) {
  accessible_name_ = std::move(name);
  Changed();
}

void Control::SetCaption(const std::string& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  Changed();
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed();
}

bool Control::EffectivelyVisible() const {
  for (const Control* c = this; c != nullptr; c = c->container()) {
    if (!c->visible()) return false;
  }
  return true;
}

void Control::SetBackColor(Rgb color) {
  has_back_color_ = true;
  back_color_ = color;
  Changed();
}

void CheckBox::SetValue(int value) {
  if (value_ == value) return;
  value_ = value;
  Changed();
  Raise(Click);
}

void OptionButton::SetValueQuietly(bool value) {
  if (value_ == value) return;
  value_ = value;
  Changed();
}

void OptionButton::SetValue(bool value) {
  if (!value) {
    SetValueQuietly(false);
    return;
  }
  if (value_) return;
  for (OptionButton* other : group_) {
    if (other != this) other->SetValueQuietly(false);
  }
  SetValueQuietly(true);
  Raise(Click);
}

void ComboBox::AddItem(const std::string& item) {
  items_.push_back(item);
  Changed();
}

void ComboBox::SetListIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items_.size())) return;
  list_index_ = index;
  if (index >= 0) text_ = items_[static_cast<std::size_t>(index)];
  Changed();
  Raise(Click);
}

void ComboBox::SetText(const std::string& text) {
  if (text_ == text) return;
  text_ = text;
  // A typed text that is not an item leaves no item selected.
  const auto it = std::find(items_.begin(), items_.end(), text_);
  list_index_ = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  Changed();
  Raise(Change);
}

void ComboBox::SetToolTip(const std::string& tip) {
  if (tool_tip_ == tip) return;
  tool_tip_ = tip;
  Changed();
}

void TextBox::SetText(const std::string& text) {
  std::string cut = text;
  if (max_length_ > 0 && static_cast<int>(cut.size()) > max_length_) {
    cut.resize(static_cast<std::size_t>(max_length_));
  }
  if (text_ == cut) return;
  text_ = std::move(cut);
  char_count_ = Utf8Length(text_);
  sel_start_ = std::min(sel_start_, static_cast<int>(text_.size()));
  Changed();
  Raise(Change);
}

void TextBox::AppendText(const std::string& text, std::size_t drop_front) {
  if (text.empty() && drop_front == 0) return;
  if (drop_front >= char_count_) {
    text_.clear();
    char_count_ = 0;
  } else {
    text_.erase(0, Utf8Offset(text_, drop_front));
    char_count_ -= drop_front;
  }
  text_ += text;
  char_count_ += Utf8Length(text);
  if (max_length_ > 0 && static_cast<int>(text_.size()) > max_length_) {
    text_.resize(static_cast<std::size_t>(max_length_));
    char_count_ = Utf8Length(text_);
  }
  // The caret ends after the inserted text, so the box follows its newest characters.
  sel_start_ = static_cast<int>(text_.size());
  Changed();
  Raise(Change);
}

void TextBox::SetSelStart(int start) {
  sel_start_ = std::clamp(start, 0, static_cast<int>(text_.size()));
  Changed();
}

void VScrollBar::SetValue(int value) {
  value = std::clamp(value, min_, std::max(min_, max_));
  if (value_ == value) return;
  value_ = value;
  Changed();
  Raise(Change);
}

void VScrollBar::SetMax(int max) {
  max_ = max;
  Changed();
  if (value_ > max_) SetValue(max_);
}

void VScrollBar::SetLargeChange(int large_change) {
  large_change_ = large_change;
  Changed();
}

void Shape::SetFillStyle(int style) {
  if (fill_style_ == style) return;
  fill_style_ = style;
  Changed();
}

void Shape::SetFillColor(Rgb color) {
  fill_color_ = color;
  Changed();
}

void Line::SetEnds(int x1, int y1, int x2, int y2) {
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  SetBounds(std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1), std::abs(y2 - y1));
}

void Form::SetOuterHeight(int height) {
  outer_height_ = height;
  Changed();
}

void FocusTracker::MoveFocus(Control* to) {
  if (focused_ == to) return;
  Control* from = focused_;
  focused_ = to;
  if (from != nullptr) {
    if (from->Validate) from->Validate();
    if (from->LostFocus) from->LostFocus();
  }
  if (to != nullptr && to->GotFocus) to->GotFocus();
  if (observer_) observer_(focused_);
}

}  // namespace orv
