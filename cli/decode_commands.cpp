#include "cli/decode_commands.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "cert/certificate_details.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "cli/cbor_check.h"
#include "cli/exit_codes.h"
#include "cli/input_file.h"
#include "cli/metadata_policy.h"
#include "cli/page_data.h"
#include "cli/page_output.h"
#include "cli/private_temp_dir.h"
#include "common/terminal_text.h"
#include "info/getinfo_rows.h"

namespace orvanta::cli {

namespace {

constexpr uint8_t CBOR_MAJOR_MAP = 5;

std::string displayName(const std::string& file) {
    return file == "-" ? std::string("standard input") : terminalSafe(file);
}

bool readFile(Context& context, const std::string& file, Bytes& bytes, Bytes* raw = nullptr) {
    InputResult input = readInput(file, context.in);
    if (!input.error.empty()) {
        fail(context, terminalSafe(input.error));
        return false;
    }
    bytes = std::move(input.bytes);
    if (raw != nullptr) {
        *raw = std::move(input.raw);
    }
    return true;
}

// A 32-byte parameter in hex; prints why not and returns false otherwise.
bool parameter32(Context& context, const char* option, const std::string& text, uint8_t out[32]) {
    std::optional<Bytes> bytes = parseHex(text);
    if (!bytes || bytes->size() != 32) {
        fail(context, std::string(option) + " needs 32 bytes as 64 hexadecimal digits.");
        return false;
    }
    std::copy(bytes->begin(), bytes->end(), out);
    return true;
}

// A CTAP2 reply saved with or without its status byte: the CBOR map alone, checked to be
// one well-formed map with nothing after it.
bool replyMap(Context& context, const std::string& file, Bytes& bytes, const char* what) {
    if (bytes.size() >= 2 && bytes[0] == 0x00 && (bytes[1] >> 5) == CBOR_MAJOR_MAP) {
        bytes.erase(bytes.begin());  // the status byte of a successful reply
    } else if (bytes.size() == 1 && (bytes[0] >> 5) != CBOR_MAJOR_MAP) {
        char status[8];
        std::snprintf(status, sizeof status, "0x%02X", bytes[0]);
        fail(context, displayName(file) + " is not " + what + ": it holds only the status byte " +
                          status + ".");
        return false;
    }
    CborCheck check = checkCborItem(bytes.data(), bytes.size());
    if (!check.ok) {
        fail(context, displayName(file) + " is not well-formed CBOR: " + check.error + ".");
        return false;
    }
    if ((bytes[0] >> 5) != CBOR_MAJOR_MAP) {
        fail(context, displayName(file) + " is not " + what + ": no CBOR map.");
        return false;
    }
    if (check.itemLength != bytes.size()) {
        fail(context, displayName(file) + " has " +
                          std::to_string(bytes.size() - check.itemLength) +
                          " bytes after the CBOR map.");
        return false;
    }
    return true;
}

// The raw encoding of the item a lookup found (the check above made it complete).
void appendItem(Bytes& out, CborSpan item) {
    CborCheck check = checkCborItem(item.data, item.length);
    out.insert(out.end(), item.data, item.data + check.itemLength);
}

// A WebAuthn attestationObject ("fmt", "authData", "attStmt") rewritten with the integer
// keys of the CTAP2 response; a map with integer keys stays as it is.
Bytes integerKeyed(const Bytes& map) {
    CborSpan span{map.data(), static_cast<uint32_t>(map.size())};
    if (mapFindInt(span, 2).found() || !mapFindText(span, "authData").found()) {
        return map;
    }
    const char* keys[3] = {"fmt", "authData", "attStmt"};
    Bytes members;
    uint8_t count = 0;
    for (uint8_t i = 0; i < 3; ++i) {
        CborSpan value = mapFindText(span, keys[i]);
        if (value.found()) {
            members.push_back(static_cast<uint8_t>(i + 1));
            appendItem(members, value);
            ++count;
        }
    }
    Bytes out{static_cast<uint8_t>(0xA0 | count)};
    out.insert(out.end(), members.begin(), members.end());
    return out;
}

// The end of a decode shown as a fetch's would be: its failure messages are the command's
// failures.
int decodeStatus(Context& context, const FetchResult& result, const TerminalPrompts& prompts) {
    for (const std::string& message : prompts.failureMessages()) {
        noteFailure(context, message);
    }
    return result.outcome == FetchOutcome::Shown && !prompts.failureShown() ? EXIT_DONE
                                                                            : EXIT_FAILED;
}

int finish(Context& context, const char* title, const CertificatePage& page, int status) {
    PageView view{title, page.rows()};
    view.data = certificatePageData(page);
    showPages(context, {view});
    return status;
}

}  // namespace

int decodeGetInfo(Context& context, const std::string& file) {
    Bytes bytes;
    if (!readFile(context, file, bytes) ||
        !replyMap(context, file, bytes, "an authenticatorGetInfo reply")) {
        return EXIT_FAILED;
    }
    HardInfoPage page;
    const AuthenticatorInfo info =
        appendGetInfoRowsFromReply(CborSpan{bytes.data(), static_cast<uint32_t>(bytes.size())},
                                   [&page](const std::string& label, const std::string& value) {
                                       page.AppendRow(label, value);
                                   });
    PageView view{HARDWARE_TITLE, page.rows()};
    view.data = {{"authenticatorGetInfo", authenticatorInfoJson(info)}};
    showPages(context, {view});
    return EXIT_DONE;
}

int decodeMakeCredential(Context& context, const std::string& file,
                         const std::optional<std::string>& clientDataHashHex) {
    uint8_t clientDataHash[32];
    if (clientDataHashHex &&
        !parameter32(context, "--client-data-hash", *clientDataHashHex, clientDataHash)) {
        return EXIT_USAGE;
    }
    Bytes bytes;
    if (!readFile(context, file, bytes) ||
        !replyMap(context, file, bytes, "an authenticatorMakeCredential response")) {
        return EXIT_FAILED;
    }
    Bytes response = integerKeyed(bytes);
    PrivateTempDir temp;
    Fido2CertPage page;
    page.fileDirectory = temp.path();
    TerminalPrompts prompts(context.prompts, context.in, context.err, context.terminal);
    const FetchResult result = showMakeCredentialResult(
        page, CborSpan{response.data(), static_cast<uint32_t>(response.size())},
        clientDataHashHex ? clientDataHash : nullptr, prompts, context.metadata.get());
    const int status = decodeStatus(context, result, prompts);
    if (result.outcome == FetchOutcome::Shown && !clientDataHashHex) {
        context.err << "The attestation signature was not checked: no --client-data-hash "
                       "was given."
                    << std::endl;
    }
    if (result.outcome == FetchOutcome::Failed && !prompts.failureShown()) {
        fail(context,
             displayName(file) + " lacks the authenticator data or the attestation signature.");
    }
    // A saved reply of a revoked or compromised key is no more trusted than the key itself.
    const int policy = refuseCompromisedKey(context, page);
    return finish(context, FIDO2_TITLE, page, std::max(status, policy));
}

int decodeU2fRegistration(Context& context, const std::string& file,
                          const std::string& challengeHex, const std::string& applicationHex) {
    uint8_t challenge[32];
    uint8_t application[32];
    if (!parameter32(context, "--challenge", challengeHex, challenge) ||
        !parameter32(context, "--application", applicationHex, application)) {
        return EXIT_USAGE;
    }
    Bytes bytes;
    if (!readFile(context, file, bytes)) {
        return EXIT_FAILED;
    }
    PrivateTempDir temp;
    U2fCertPage page;
    page.fileDirectory = temp.path();
    TerminalPrompts prompts(context.prompts, context.in, context.err, context.terminal);
    const FetchResult result =
        showU2fRegistration(page, bytes, std::span<const uint8_t, 32>(challenge),
                            std::span<const uint8_t, 32>(application), prompts);
    return finish(context, U2F_TITLE, page, decodeStatus(context, result, prompts));
}

int decodeCertificate(Context& context, const std::string& file) {
    Bytes bytes;
    Bytes raw;
    if (!readFile(context, file, bytes, &raw)) {
        return EXIT_FAILED;
    }
    // PEM text may hold several certificates (a chain) and other text before them.
    std::vector<Bytes> certificates =
        pemCertificates(raw).value_or(std::vector<Bytes>{std::move(bytes)});
    if (certificates.size() == 1) {
        std::vector<Row> rows;
        if (!certificateRows(certificates[0].data(), certificates[0].size(), rows)) {
            fail(context, displayName(file) + " is not an X.509 certificate.");
            return EXIT_FAILED;
        }
        showPages(context, {PageView{CERTIFICATE_TITLE, rows}});
        return EXIT_DONE;
    }
    // One page per certificate, in the order of the file; one that does not decode is
    // named and the others are still shown.
    std::vector<PageView> views;
    int status = EXIT_DONE;
    for (size_t i = 0; i < certificates.size(); ++i) {
        std::vector<Row> rows;
        if (!certificateRows(certificates[i].data(), certificates[i].size(), rows)) {
            fail(context, displayName(file) + ": certificate " + std::to_string(i + 1) + " of " +
                              std::to_string(certificates.size()) +
                              " is not an X.509 certificate.");
            status = EXIT_FAILED;
            continue;
        }
        views.push_back(PageView{CERTIFICATE_TITLE, std::move(rows)});
    }
    if (!views.empty()) {
        showPages(context, views);
    }
    return status;
}

}  // namespace orvanta::cli
