#include "platform/StandardStreams.h"

// Windows keeps the standard handles apart from every other handle: a file or
// port opened later never becomes one of them.
void OpenMissingStandardStreams() {}
