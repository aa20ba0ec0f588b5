// The mapped port with Qt's TCP port for addresses: for programs that link Qt Network anyway
// (the network module, the tests). The program itself gets its network port from the module.
#include <memory>
#include <utility>

#include "netport/qt/qt_mapped_serial_port.h"
#include "netport/qt/qt_tcp_serial_port.h"

namespace orv {

QtMappedSerialPort::QtMappedSerialPort(MapLookup map_value)
    : QtMappedSerialPort(std::move(map_value),
                         [](std::string&) { return std::make_unique<QtTcpSerialPort>(); }) {}

}  // namespace orv
