#pragma once

namespace orv {

// Files the program creates are writable by its group too: SYSINI and DATA are shared by every
// operator of the serial port's group, and one operator's event log must take the next one's
// records. Where the system has no such notion (Windows), nothing changes.
void ShareNewFilesWithGroup();

}  // namespace orv
