// Button pictures drawn in code.
#pragma once

#include <QIcon>

// Two computers joined by a cable, 25 x 21, reaching both edges; the greyed
// form for the disabled button is derived from it.
QIcon LinkedComputersPicture();
