#pragma once
// Temporary ".cer" copies of the certificates a certification page shows, and the export of
// one of them: its bytes are written to a fresh file that is handed to the desktop. Nothing
// here shows a message.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ctap/user_prompts.h"
#include "info/page_model.h"

namespace orvanta {

inline constexpr const char* CERTIFICATE_FILE_PREFIX = "f1d0";
inline constexpr const char* CERTIFICATE_FILE_SUFFIX = ".cer";

// The directory for temporary files: TMPDIR when set and not empty, else /tmp.
std::string temporaryDirectory();

// Writes the bytes to a new file "f1d0XXXXXX.cer" in the page's file directory, else in the
// temporary directory (created exclusively, mode 0600), and makes its path the page's
// remembered certificate file; the file the previous path named stays. True when every byte
// was written. When no file can be created the page keeps its previous path; a file that
// was created but could not be written completely stays remembered, so the next clear
// removes it.
bool writeCertificateFile(CertificatePage& page, const uint8_t* data, size_t length);

// The double click on a "Base64 encode" row: writes the page's certificate `index` (the
// bytes the key sent) to a new certificate file (remembered by the page) and asks the
// desktop to open it. Nothing happens for an index the page does not hold.
void exportCertificate(CertificatePage& page, size_t index, UserPrompts& prompts);

}  // namespace orvanta
