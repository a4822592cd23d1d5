// The processes that have a device open, found in /proc as fuser finds them.
#pragma once

#include <sys/types.h>

// A process other than this one that has the device open; this process
// itself when no other has and countSelf is set; 0 for none. The far end of
// a pseudo-terminal (a process that holds its master) is the device, not a
// user of it, and is passed over. Processes whose open files this one may not
// see (other users', without privilege) stay hidden, and the search gives up
// after a quarter of a second, however many processes there are.
pid_t DeviceUser(dev_t device, bool countSelf);

// Whether the process has the device itself open (not through the master of
// a pseudo-terminal, nor by an O_PATH descriptor). False once it is gone.
bool HasDeviceOpen(pid_t process, dev_t device);
