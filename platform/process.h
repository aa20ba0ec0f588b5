#pragma once

namespace orv {

// Files the program creates are writable by its group too: SYSINI and DATA are shared by every
// operator of the serial port's group, and one operator's event log must take the next one's
// records. Where the system has no such notion (Windows), nothing changes.
void ShareNewFilesWithGroup();

// Files the site's service creates are its own: its group may read them, nobody else may do
// anything with them (0640 files, 0750 folders, or tighter where the umask already was). The
// records and the service's settings are then safe from every operator account.
void KeepNewFilesFromOthers();

}  // namespace orv
