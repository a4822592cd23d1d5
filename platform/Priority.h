// What the priority classes of this system allow beyond the Win32 calls. One
// declaration for every platform; the POSIX version lives in platform/posix.
#pragma once

// Whether this process could set its priority class back to normal after
// lowering it to idle. Where lowering is for good (an unprivileged Linux
// process may never lower its nice value again), the caller should not.
bool PriorityClassReversible();
