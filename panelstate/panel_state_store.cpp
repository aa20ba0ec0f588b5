#include "panelstate/panel_state_store.h"

#include <utility>

namespace orv {

unsigned PanelStateStore::Publish(PanelState next) {
  const unsigned sections = ChangedSections(state_, next);
  if (sections == 0) return 0;
  state_ = std::move(next);
  changed_(sections, ++seq_);
  return sections;
}

}  // namespace orv
