#pragma once

// The site's service (orvandel --headless, as the systemd unit starts it): the program without a
// window, over the line it owns. What runs is the module's Service (service/qt); this is where
// the program hands over to it.

#include <string>

#include "access/access_gate.h"
#include "app/program_module.h"
#include "netport/qt/qt_mapped_serial_port.h"
#include "panel/main_form.h"
#include "service/service_settings.h"

namespace orv {

// Until SIGTERM or SIGINT: the exit status; 1 at once without the module.
int StartService(ProgramModule& module, QtMappedSerialPort& port, MainFormEnvironment environment,
                 int port_for_this_run, const ServiceSettings& settings,
                 const std::string& attach_socket, AccessGate& gate);

}  // namespace orv
