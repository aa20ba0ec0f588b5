#pragma once

namespace orv {

// The filter rules that keep the libraries' chatter (Qt's, its plugins', the sound server's:
// "XDG_RUNTIME_DIR not set", "pa_context_connect() failed", "No audio device detected") off the
// terminal and the service's log: only the program's own categories ("orvandel.*") below
// critical come through; a library's critical or fatal message still does.
const char* QuietLogRules();

// Where Qt's messages go, set once before the application object exists: without `verbose` the
// quiet rules (QT_LOGGING_RULES still overrides them); on the journal's stream (standard error
// under systemd) each message carries its priority; on a terminal Qt's own lines as ever.
void SetUpQtLog(bool verbose);

}  // namespace orv
