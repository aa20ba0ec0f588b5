// Compiled only by the layer-boundary tests: a layer that may not see the window model must fail
// to find its header, one that may must build this file.
#include "events/event_decoder.h"
#include "link/link.h"
#include "platform/controls.h"

int WindowModelProbe() {
  orv::CheckBox box("probe");
  return box.value();
}
