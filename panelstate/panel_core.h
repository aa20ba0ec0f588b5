#pragma once

#include <functional>
#include <memory>
#include <string>

#include "access/access_gate.h"
#include "access/operator_actions.h"
#include "annunciator/sound_output.h"
#include "journal/journal.h"
#include "panelstate/panel_state_store.h"
#include "platform/signal.h"

namespace orv {

// The line as its keeper has it: the service's runner keeps a line an operator closed closed; a
// window's own web panel never asks for the line.
struct ServiceLine {
  std::function<void(const Actor& by)> connect;
  std::function<void(const Actor& by)> disconnect;
};

// The panel that holds the line, as the service drives it and every other view and report reads
// it: its state, its records and its gate, its start, tick and stop, and its line. The window
// model is one; the service, the attached windows' server, the web panel and the broker see only
// this, never a control.
class PanelCore {
 public:
  virtual ~PanelCore() = default;

  // ---- What the views and reports read. ----
  virtual PanelStateStore& state_store() = 0;
  // The journal; null when the program keeps none.
  virtual Journal* journal() = 0;
  // Every record as it is made, with or without a journal.
  virtual Signal<const JournalEntry&>& recorded() = 0;
  // Now, by the journal's clock.
  virtual JournalTime Now() const = 0;
  // The program's one access gate; null with access levels off.
  virtual AccessGate* gate() = 0;
  virtual AccessClock::time_point AccessNow() const = 0;

  // ---- What the program that holds the line drives. ----
  // The start (settings read, the start recorded) and the stop (recorded, settings kept).
  virtual void Load() = 0;
  virtual void Unload() = 0;
  // The 100 ms tick: the line's frames, the watch, the annunciator, the journal's commit and the
  // state's publication.
  virtual void Tick() = 0;
  virtual bool line_connected() const = 0;
  // As the Connection / Disconnection button: opens the line, or closes it.
  virtual void ToggleConnection(const Actor& by = {}) = 0;
  // A line whose device is gone: the port closed and the panel disconnected, without the
  // operator's Disconnection record.
  virtual void CloseLine() = 0;
  // Another port for this run only, never written to the settings.
  virtual void UsePortForThisRun(int port_number) = 0;
  // The [Annunciation] settings' device for a sound output of the program's own; empty: none.
  virtual std::string sound_device() const = 0;
  // Where the annunciator's tones are played; null: nowhere. Outlives its use or is replaced.
  virtual void set_sound_output(SoundOutput* output) = 0;

  // The one performer of the actions the socket and the web panel ask for, the line's connect
  // and disconnect going through line. Outlived by the panel.
  virtual std::unique_ptr<ActionPerformer> MakeActions(ServiceLine line) = 0;
};

}  // namespace orv
