#pragma once

#include "panel/main_form.h"
#include "mqtt/publisher.h"
#include "platform/signal.h"

namespace orv {

// Hands the window model's state and records to the broker publisher: the lamps as the window
// shows them, the trigger states and names of the three listed pages, the link's state, and the
// records, from the journal when the program keeps one. Made after the window model and before
// its Form_Load, so that everything recorded from the start on is sent and nothing older.
class MqttFeed {
 public:
  MqttFeed(MainForm& form, MqttPublisher& publisher);
  MqttFeed(const MqttFeed&) = delete;
  MqttFeed& operator=(const MqttFeed&) = delete;

  // Once per tick, after the window model's: what changed goes to the publisher.
  void Tick();

  // The link topic's input: the link watch's state, taken at every tick and at a connect or
  // disconnect.
  void SetLinkState(LinkState state) { publisher_.SetLinkState(state); }

 private:
  LinkState WatchedLinkState() const;
  // The annunciation topic from what sounds now.
  void Annunciate();

  MainForm& form_;
  MqttPublisher& publisher_;
  FaultLamps lamps_;
  Connections connections_;
};

}  // namespace orv
