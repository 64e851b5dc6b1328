#pragma once
// Every modal dialog of the window (message boxes, the PIN dialog, the About box, the
// main window itself) runs through execModal, so tests can answer them without a modal
// loop that would wait for a user.

#include <functional>

class QDialog;

namespace orvanta {

// Receives the dialog instead of its modal loop and returns its result code.
using ModalHook = std::function<int(QDialog&)>;

// Runs the dialog modally, or hands it to the hook when one is installed.
int execModal(QDialog& dialog);
// Installs a hook (an empty function restores the modal loops).
void setModalHook(ModalHook hook);

}  // namespace orvanta
