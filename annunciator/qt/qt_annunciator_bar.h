// The annunciator in the window's status bar, outside the designed controls: what sounds and
// why, a Silence button (and Esc), a Lamp test button (and Ctrl+T). While a new condition
// sounds the window asks the desktop for attention, so a minimised window flashes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "annunciator/annunciator.h"

class QLabel;
class QPushButton;

namespace orv {

class QtFormView;

class QtAnnunciatorBar {
 public:
  // silence: where it was asked from ("window" or "Esc").
  using SilenceFn = std::function<void(std::string_view where)>;
  // The buttons' captions: the actions' names, as the action table has them.
  struct Captions {
    std::string silence;
    std::string lamp_test;
  };
  QtAnnunciatorBar(QtFormView& view, const Captions& captions, SilenceFn silence,
                   std::function<void()> lamp_test);
  QtAnnunciatorBar(const QtAnnunciatorBar&) = delete;
  QtAnnunciatorBar& operator=(const QtAnnunciatorBar&) = delete;

  void Show(const Annunciation& now);

  QLabel* label() const { return label_; }
  QPushButton* silence_button() const { return silence_; }
  QPushButton* lamp_test_button() const { return lamp_test_; }

 private:
  QtFormView& view_;
  QLabel* label_ = nullptr;
  QPushButton* silence_ = nullptr;
  QPushButton* lamp_test_ = nullptr;
  Annunciation shown_;
};

}  // namespace orv
