// platform/winapi.h gives the Win32 names and nothing more: the termios names
// the serial stand-in works with stay out of the files that include it.
#include "platform/winapi.h"

#if defined(B0) || defined(CS8) || defined(ECHO) || defined(TCSANOW) || defined(VMIN)
#error "platform/winapi.h brings in termios"
#endif
