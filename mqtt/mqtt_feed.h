#pragma once

#include <cstdint>

#include "journal/journal.h"
#include "mqtt/publisher.h"
#include "panelstate/panel_state_store.h"
#include "platform/signal.h"

namespace orv {

// Hands the panel's state and records to the broker publisher: the controller's lamps, the
// trigger states and names of the three listed pages, the link's condition and what sounds,
// all from the one state every view reads; and the records, from the journal when the program
// keeps one (else as they are made). Made before the panel's start, so that everything recorded
// from the start on is sent and nothing older.
class MqttFeed {
 public:
  MqttFeed(PanelStateStore& state, Journal* journal, Signal<const JournalEntry&>& recorded,
           MqttPublisher& publisher);
  MqttFeed(const MqttFeed&) = delete;
  MqttFeed& operator=(const MqttFeed&) = delete;

  // Once per tick, after the panel's: the sections that changed go to the publisher, which
  // sends only what differs.
  void Tick();

 private:
  void Render(unsigned sections);

  PanelStateStore& state_;
  MqttPublisher& publisher_;
  unsigned pending_ = 0;
  Connections connections_;
};

}  // namespace orv
