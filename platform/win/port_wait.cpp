// No notice of arrivals on Windows yet: a wait returns at once, so a host
// that waits for the port alone polls as it always has. The dialogs still
// rest in their event loop, where the serial watcher's hand-over of each
// arrival ends the rest.
#include "platform/PortWait.h"

PortArrivals::PortArrivals(HANDLE) {}

PortArrivals::~PortArrivals() = default;

bool PortArrivals::Wait(int) { return false; }

void PortArrivals::Forget() {}
