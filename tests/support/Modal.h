// Drives a modal window from inside its own event loop.
#pragma once

#include <functional>

class QWidget;

// Calls open, which must show a modal window and return when it closes; act
// runs once that window is up and active, and should close it. A window that
// act leaves open fails the test and is hidden so that open can return.
// False when no modal window came up.
bool WithModal(const std::function<void()>& open, const std::function<void(QWidget*)>& act);
