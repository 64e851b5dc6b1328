#pragma once
// Handing a file to the program the desktop has for its type (the certificate viewer for
// ".cer"), and hearing when there is none.

#include <QString>
#include <functional>

class QObject;

namespace orvanta {

// Opens path with the desktop's program for it; noHandler runs later, on the caller's
// thread, when no program took the file (none registered, or none could be started).
using DesktopOpener = std::function<void(const QString& path, std::function<void()> noHandler)>;

// xdg-open, whose exit status says whether a program took the file. The process belongs to
// owner when given (it ends with it); noHandler is not run once owner has gone.
void openWithXdgOpen(QObject* owner, const QString& path, std::function<void()> noHandler);

}  // namespace orvanta
