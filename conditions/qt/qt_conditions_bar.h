// The conditions in the window's status bar, outside the designed controls: a button that says
// what stands (the first and the latest alarm, the counts), opening a window of their own with
// the list in priority and the operator's Acknowledge and Shelve.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "panelstate/condition.h"

class QCheckBox;
class QDialog;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace orv {

class QtFormView;

class QtConditionsBar {
 public:
  // What the operator asked for; the caller passes it on as the window's action.
  using AcknowledgeFn = std::function<void(const std::string& id, const std::string& comment)>;
  using ShelveFn =
      std::function<void(const std::string& id, const std::string& reason, int minutes)>;

  QtConditionsBar(QtFormView& view, AcknowledgeFn acknowledge, ShelveFn shelve);
  QtConditionsBar(const QtConditionsBar&) = delete;
  QtConditionsBar& operator=(const QtConditionsBar&) = delete;

  // The conditions in their order, as the panel's state has them.
  void Show(const std::vector<Condition>& conditions);

  QPushButton* button() const { return button_; }
  // Made when first opened.
  QDialog* list_window() const { return window_; }
  QListWidget* list() const { return list_; }
  QCheckBox* faults_only() const { return faults_only_; }

 private:
  void Open();
  std::string Selected() const;

  QtFormView& view_;
  AcknowledgeFn acknowledge_;
  ShelveFn shelve_;
  std::vector<Condition> shown_;
  QPushButton* button_ = nullptr;
  QDialog* window_ = nullptr;
  QListWidget* list_ = nullptr;
  QLineEdit* text_ = nullptr;
  QSpinBox* minutes_ = nullptr;
  QCheckBox* faults_only_ = nullptr;
};

}  // namespace orv
