#pragma once

#include <cstdint>

#include "panelstate/panel_state.h"
#include "platform/signal.h"

namespace orv {

// The one place the panel's state is kept: the panel that holds the line publishes it, every
// view and report reads it. Each publication that changes something is numbered and says which
// sections changed, so a reader renders only those (as gpsd's reports take a changed mask).
class PanelStateStore {
 public:
  PanelStateStore() : state_(EmptyPanelState()) {}
  PanelStateStore(const PanelStateStore&) = delete;
  PanelStateStore& operator=(const PanelStateStore&) = delete;

  // The state now; before the first publication, every page at its full size and all off.
  const PanelState& state() const { return state_; }
  // The number of the last publication that changed something; 0 before any.
  std::uint64_t seq() const { return seq_; }

  // Takes the state now: the sections that differ from the last (none: nothing is said).
  unsigned Publish(PanelState next);

  // Said after each publication that changed something: its sections and its number.
  Signal<unsigned, std::uint64_t>& changed() { return changed_; }

 private:
  PanelState state_;
  std::uint64_t seq_ = 0;
  Signal<unsigned, std::uint64_t> changed_;
};

}  // namespace orv
