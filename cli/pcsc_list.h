#pragma once
// Cards in PC/SC readers on the command line (--pcsc): `list` shows every reader, its
// card's ATR and whether the card answers as a FIDO key; the other commands say why no key
// was found when it was the service, the reader or the card.

#include <string>

#include "cli/context.h"
#include "cli/device_choice.h"
#include "transport/key_source.h"

namespace orvanta::cli {

// Every reader of the PC/SC service (or the one the choice names) with its card. 0 when a
// card's FIDO application answered, 3 otherwise.
int runPcscList(Context& context, const DeviceChoice& choice);

// Why the source found no key, as a line for standard error; empty when it names no cause
// (for PC/SC: the service was reached and the reader, if one was named, holds a card).
std::string noKeysText(KeySource& source);

}  // namespace orvanta::cli
