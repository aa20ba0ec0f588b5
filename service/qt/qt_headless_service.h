#pragma once

#include <functional>
#include <string>

#include "access/access_gate.h"
#include "panelstate/panel_core.h"
#include "platform/notice.h"
#include "platform/serial_port.h"
#include "service/service_settings.h"

namespace orv {

// The program without a window: the panel (made, not yet loaded) connected at once and kept
// connected, its records one line each through print, the broker fed when the settings name one,
// until SIGTERM or SIGINT. port_for_this_run: the --port of the command line, 0 for the configured
// one. attach_socket: where windows attach to it; empty for none. The web panel is served when
// its settings name an address, its actions through gate; the notifications go out as their
// rules say.
int RunQtHeadlessService(PanelCore& panel, SerialPort& port, NoticeFn notice, int port_for_this_run,
                         const ServiceSettings& settings,
                         const std::function<void(const std::string&)>& print,
                         const std::string& attach_socket, AccessGate& gate);

}  // namespace orv
