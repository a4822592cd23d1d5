// The Win32 interfaces the program is written against. On Windows they are
// the real ones (two pass through the hooks in platform/win/module.h);
// elsewhere our stand-ins in platform/posix provide the same names, types and
// signatures with Win32's observable behaviour.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#include "platform/win/module.h"
#else
#include "platform/posix/types.h"
#include "platform/posix/errors.h"
#include "platform/posix/files.h"
#include "platform/posix/handles.h"
#include "platform/posix/profile.h"
#include "platform/posix/module.h"
#include "platform/posix/input.h"
#include "platform/posix/sync.h"
#include "platform/posix/serial/comm.h"
#include "platform/posix/process.h"
#include "platform/posix/priority.h"
#endif
