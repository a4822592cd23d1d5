#include "platform/Priority.h"

// Any process may set its own priority class back to normal on Windows.
bool PriorityClassReversible() { return true; }
