// Compiled only by the layer-boundary tests: a room's library that includes the header of a room
// above it (or beside it, unused) must fail to find it.
#include ORV_PROBE_HEADER

int RoomProbe() {
  return 0;
}
