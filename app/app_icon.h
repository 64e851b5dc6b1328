#pragma once
// The application icon, built into the program.

#include <QIcon>

namespace orvanta {

QIcon applicationIcon();

}  // namespace orvanta
