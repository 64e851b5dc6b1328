// The offline decoders on replies recorded from the virtual key (the same rows as the
// pages that fetched them) and on hand-made broken files (a clear message, status 1).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "cli/private_temp_dir.h"
#include "cli_harness.h"
#include "common/base64.h"
#include "ctap/cbor.h"
#include "info/device_context.h"
#include "info/device_refresh.h"
#include "info/getinfo_rows.h"
#include "support/scripted_prompts.h"
#include "support/virtual_key_setup.h"
#include "transport/clock.h"
#include "transport/exchange.h"

namespace orvanta::test {
namespace {

using nlohmann::json;

std::string hexText(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string hexText(const uint8_t* data, size_t length) {
    return hexText(Bytes(data, data + length));
}

std::string base64url(const Bytes& bytes) {
    std::string text = base64Encode(bytes.data(), bytes.size());
    for (char& c : text) {
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    }
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    return text;
}

// CBOR pieces for hand-made files.
Bytes header(uint8_t major, size_t n) {
    if (n < 24) {
        return {static_cast<uint8_t>(major << 5 | n)};
    }
    if (n < 256) {
        return {static_cast<uint8_t>(major << 5 | 24), static_cast<uint8_t>(n)};
    }
    return {static_cast<uint8_t>(major << 5 | 25), static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}
Bytes byteString(const Bytes& content) {
    return cat({header(2, content.size()), content});
}
Bytes textString(const std::string& text) {
    return cat({header(3, text.size()), Bytes(text.begin(), text.end())});
}

Bytes span(CborSpan item) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    EXPECT_TRUE(readByteString(item, &data, &length));
    return Bytes(data, data + length);
}

// Replies recorded from a virtual key, and the pages the window shows for the same key.
class CliDecode : public ::testing::Test {
  protected:
    void SetUp() override {
        cli::PrivateTempDir scratch;  // the certificate copies made while recording
        fido2.fileDirectory = scratch.path();
        u2f.fileDirectory = scratch.path();
        VirtualKeySetup setup = makeVirtualKey("full", clock);
        devices = std::make_unique<DeviceContext>(setup.backend, clock);
        attestation = setup.key->attestationCertificate();
        caCertificate = setup.key->caCertificate();

        Pages pages{hardware, fido2, u2f};
        ShowDeviceInfo(*devices, pages, "", "");
        DeviceSession& session = devices->session();
        ScriptedPrompts prompts;
        prompts.okCancelAnswers = {true, true};
        ASSERT_EQ(fetchFido2Certificates(session, devices->clientPinSet(), fido2, prompts).outcome,
                  FetchOutcome::Shown);
        ASSERT_EQ(fetchU2fCertificate(session, u2f, prompts).outcome, FetchOutcome::Shown);

        const uint8_t getInfoCommand[1] = {0x04};
        Result<CborReply> info = sendCbor(session, getInfoCommand);
        ASSERT_TRUE(info.ok());
        ASSERT_EQ(info->status, 0);
        getInfo = info->data;

        std::vector<uint8_t> request = buildMakeCredentialRequest(nullptr);
        Result<CborReply> made = sendCbor(session, request);
        ASSERT_TRUE(made.ok());
        ASSERT_EQ(made->status, 0);
        makeCredential = made->data;

        uint8_t apdu[U2F_REGISTER_EXTENDED_LENGTH];
        u2fRegisterApdu(U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER, apdu);
        Result<ApduReply> registered = sendApdu(session, apdu);
        ASSERT_TRUE(registered.ok());
        ASSERT_EQ(registered->status, 0x9000);
        registration = registered->data;
    }

    static std::vector<Row> rowsOf(const std::string& out) {
        json doc = json::parse(out);
        std::vector<Row> rows;
        for (const json& row : doc["pages"][0]["rows"]) {
            Row r{row["item"].get<std::string>(), std::nullopt};
            if (!row["value"].is_null()) {
                r.value = row["value"].get<std::string>();
            }
            rows.push_back(r);
        }
        return rows;
    }
    static std::vector<Row> tail(const PageModel& page, size_t from) {
        return std::vector<Row>(page.rows().begin() + static_cast<long>(from), page.rows().end());
    }
    static void expectSameRows(const std::vector<Row>& a, const std::vector<Row>& b) {
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].label, b[i].label) << i;
            EXPECT_EQ(a[i].value, b[i].value) << i;
        }
    }
    static std::string valueOf(const std::vector<Row>& rows, const std::string& label) {
        for (const Row& r : rows) {
            if (r.label == label) {
                return r.valueText();
            }
        }
        return "(none)";
    }
    // The parts of the recorded makeCredential response.
    Bytes authData() const {
        return span(mapFindInt(
            CborSpan{makeCredential.data(), static_cast<uint32_t>(makeCredential.size())}, 2));
    }
    Bytes signature() const {
        CborSpan attStmt = mapFindInt(
            CborSpan{makeCredential.data(), static_cast<uint32_t>(makeCredential.size())}, 3);
        return span(mapFindText(attStmt, "sig"));
    }
    std::string file(const std::string& name, const Bytes& bytes) {
        writeBytes(dir.file(name), bytes);
        return dir.file(name);
    }
    std::string textFile(const std::string& name, const std::string& text) {
        writeText(dir.file(name), text);
        return dir.file(name);
    }

    ManualClock clock{1000};
    // The key the replies were recorded from, still attached while the decoders run.
    std::unique_ptr<DeviceContext> devices;
    TempDir dir;
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Bytes getInfo, makeCredential, registration, attestation, caCertificate;
    const std::string clientDataHash =
        hexText(FIDO2_CLIENT_DATA_HASH, sizeof FIDO2_CLIENT_DATA_HASH);
    const std::string challenge = hexText(U2F_CHALLENGE_PARAMETER, 32);
    const std::string application = hexText(U2F_APPLICATION_PARAMETER, 32);
};

TEST_F(CliDecode, GetInfoGivesTheRowsOfTheHardwarePage) {
    size_t first = 0;
    while (first < hardware.rows().size() &&
           hardware.rows()[first].label != "authenticatorGetInfo") {
        ++first;
    }
    ASSERT_LT(first, hardware.rows().size());
    // The page ends with the key's health and what its INIT reply said, which a getInfo
    // reply does not hold.
    const std::vector<std::string> fromTheKey = {"PIN retries",           "UV retries",
                                                 "Credential slots left", "CTAPHID protocol",
                                                 "Device version",        "Capabilities"};
    ASSERT_GE(hardware.rows().size(), first + fromTheKey.size());
    std::vector<Row> expected = tail(hardware, first);
    expected.erase(expected.end() - static_cast<std::ptrdiff_t>(fromTheKey.size()), expected.end());
    for (size_t i = 0; i < fromTheKey.size(); ++i) {
        EXPECT_EQ(hardware.labelAt(static_cast<int>(first + expected.size() + i)), fromTheKey[i]);
    }

    // Binary, hex, Base64url, with the status byte, and from standard input.
    Bytes withStatus = cat({{0x00}, getInfo});
    for (const std::string& path :
         {file("getinfo.bin", getInfo), textFile("getinfo.hex", hexText(getInfo) + "\n"),
          textFile("getinfo.b64u", base64url(getInfo)), file("status.bin", withStatus)}) {
        CliResult r = runCli({"--json", "decode", "getinfo", path});
        ASSERT_EQ(r.status, 0) << path << r.err;
        expectSameRows(rowsOf(r.out), expected);
        EXPECT_EQ(json::parse(r.out)["pages"][0]["page"], "hardware info");
    }
    CliResult fromStdin = runCli({"decode", "getinfo", "-"}, hexText(getInfo));
    ASSERT_EQ(fromStdin.status, 0) << fromStdin.err;
    EXPECT_EQ(fromStdin.out.rfind("hardware info\nItem                  Value\n"
                                  "authenticatorGetInfo  1: ",
                                  0),
              0u)
        << fromStdin.out;
    // Decoding a file leaves the PIN flag of the attached key alone, though the recorded
    // reply says the key has no PIN.
    EXPECT_FALSE(devices->clientPinSet());  // what the refresh learned from that reply
    AuthenticatorInfo withPin;
    withPin.options.push_back({"clientPin", true});
    devices->setAuthenticatorInfo(withPin);
    runCli({"decode", "getinfo", file("getinfo.bin", getInfo)});
    EXPECT_TRUE(devices->clientPinSet());
}

TEST_F(CliDecode, MakeCredentialGivesTheRowsOfTheFido2Page) {
    std::vector<Row> expected = tail(fido2, 1);  // all but "Tips"
    CliResult r = runCli({"--json", "decode", "makecred", file("mc.bin", makeCredential),
                          "--client-data-hash", clientDataHash});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSameRows(rowsOf(r.out), expected);
    EXPECT_EQ(valueOf(rowsOf(r.out), "Verify Result"), "YES");

    // Another client data hash: the signature does not match.
    std::string other(64, '0');
    CliResult wrong = runCli({"--json", "decode", "makecred", file("mc.bin", makeCredential),
                              "--client-data-hash", other});
    EXPECT_EQ(wrong.status, 0) << wrong.err;
    EXPECT_EQ(valueOf(rowsOf(wrong.out), "Verify Result"), "NO");
}

TEST_F(CliDecode, MakeCredentialWithoutClientDataHashLeavesTheSignatureUnchecked) {
    std::vector<Row> expected;
    for (const Row& row : tail(fido2, 1)) {
        if (row.label != "Verify Result") {
            expected.push_back(row);
        }
    }
    CliResult r = runCli({"--json", "decode", "makecred", file("mc.bin", makeCredential)});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSameRows(rowsOf(r.out), expected);
    EXPECT_EQ(valueOf(rowsOf(r.out), "Verify Result"), "(none)");
    EXPECT_TRUE(json::parse(r.out)["pages"][0]["data"]["certificates"][0]["verified"].is_null());
    EXPECT_NE(r.err.find("signature was not checked: no --client-data-hash"), std::string::npos)
        << r.err;
}

TEST_F(CliDecode, AttestationObjectWithTextKeysAsWebServicesStoreIt) {
    CborSpan response{makeCredential.data(), static_cast<uint32_t>(makeCredential.size())};
    CborSpan attStmt = mapFindInt(response, 3);
    Bytes attStmtBytes(attStmt.data, attStmt.data + itemLength(attStmt));
    Bytes object = cat({{0xA3},
                        textString("fmt"),
                        textString("packed"),
                        textString("attStmt"),
                        attStmtBytes,
                        textString("authData"),
                        byteString(authData())});
    CliResult r =
        runCli({"--json", "decode", "makecred", "-", "--client-data-hash", clientDataHash},
               base64url(object));
    ASSERT_EQ(r.status, 0) << r.err;
    expectSameRows(rowsOf(r.out), tail(fido2, 1));
}

TEST_F(CliDecode, U2fRegistrationGivesTheRowsOfTheU2fPage) {
    std::vector<Row> expected = tail(u2f, 2);  // all but "Tips" and the blank row
    CliResult r = runCli({"--json", "decode", "u2f", file("reg.bin", registration), "--challenge",
                          challenge, "--application", application});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSameRows(rowsOf(r.out), expected);
    EXPECT_EQ(json::parse(r.out)["pages"][0]["page"], "U2F Certification");

    CliResult swapped = runCli({"--json", "decode", "u2f", file("reg.bin", registration),
                                "--challenge", application, "--application", challenge});
    EXPECT_EQ(swapped.status, 0);
    EXPECT_EQ(valueOf(rowsOf(swapped.out), "Verify Result"), "NO");
}

TEST_F(CliDecode, CertificateAsDerOrPem) {
    CliResult der = runCli({"--json", "decode", "cert", file("att.der", attestation)});
    ASSERT_EQ(der.status, 0) << der.err;
    std::vector<Row> rows = rowsOf(der.out);
    // The rows of the FIDO2 page for the attestation certificate, without the check.
    std::vector<Row> shown = tail(fido2, 2);
    shown.resize(rows.size());
    expectSameRows(rows, shown);
    EXPECT_EQ(json::parse(der.out)["pages"][0]["page"], "certificate");

    std::string pem = "-----BEGIN CERTIFICATE-----\n" +
                      base64Encode(caCertificate.data(), caCertificate.size()) +
                      "\n-----END CERTIFICATE-----\n";
    CliResult fromPem = runCli({"decode", "cert", "-"}, pem);
    ASSERT_EQ(fromPem.status, 0) << fromPem.err;
    EXPECT_EQ(fromPem.out.rfind("certificate\nItem             Value\nVersion          V3\n", 0),
              0u)
        << fromPem.out;
    EXPECT_NE(fromPem.out.find("User             US, Orvanta Virtual, Orvanta Virtual Root CA\n"),
              std::string::npos);
}

TEST_F(CliDecode, PemAfterTextWithTwoCertificatesShowsBothInOrder) {
    auto pem = [](const Bytes& der) {
        return "-----BEGIN CERTIFICATE-----\n" + base64Encode(der.data(), der.size()) +
               "\n-----END CERTIFICATE-----\n";
    };
    std::string text = "Certificate:\n    Data:\n        Version: 3 (0x2)\n" + pem(attestation) +
                       "subject=CN = Root\n" + pem(caCertificate);
    CliResult r = runCli({"--json", "decode", "cert", textFile("chain.pem", text)});
    ASSERT_EQ(r.status, 0) << r.err;
    json pages = json::parse(r.out)["pages"];
    ASSERT_EQ(pages.size(), 2u) << r.out;
    for (size_t i = 0; i < 2; ++i) {
        const Bytes& der = i == 0 ? attestation : caCertificate;
        CliResult alone = runCli({"--json", "decode", "cert", file("one.der", der)});
        json single = json::parse(alone.out)["pages"][0];
        EXPECT_EQ(pages[i]["page"], "certificate");
        EXPECT_EQ(pages[i]["rows"], single["rows"]) << i;
    }
}

TEST_F(CliDecode, BrokenFilesEndWithAMessageAndStatus1) {
    Bytes truncated(getInfo.begin(), getInfo.end() - 10);
    Bytes trailing = cat({getInfo, {0x00}});
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string hashOption = "--client-data-hash";
    std::vector<Case> cases = {
        {{"decode", "getinfo", file("t.bin", truncated)}, "is not well-formed CBOR"},
        {{"decode", "getinfo", file("trail.bin", trailing)}, "1 bytes after the CBOR map"},
        {{"decode", "getinfo", file("array.bin", {0x82, 0x01, 0x02})}, "no CBOR map"},
        {{"decode", "getinfo", file("status.bin", {0x2E})}, "only the status byte 0x2E"},
        {{"decode", "getinfo", file("empty.bin", {})}, "is empty"},
        {{"decode", "getinfo", dir.file("missing.bin")}, "cannot read"},
        {{"decode", "getinfo", textFile("words.txt", "hello, world")}, "no CBOR map"},
        {{"decode", "makecred",
          file("mc-cut.bin", Bytes(makeCredential.begin(), makeCredential.begin() + 100)),
          hashOption, clientDataHash},
         "is not well-formed CBOR"},
        {{"decode", "makecred", file("mc-empty-map.bin", {0xA0}), hashOption, clientDataHash},
         "lacks the authenticator data"},
    };
    Bytes noX5c = cat({{0xA3, 0x01},
                       textString("packed"),
                       {0x02},
                       byteString(authData()),
                       {0x03},
                       {0xA2},
                       textString("alg"),
                       {0x26},
                       textString("sig"),
                       byteString(signature())});
    cases.push_back({{"decode", "makecred", file("self.bin", noX5c), hashOption, clientDataHash},
                     "No certificate information returned!"});
    Bytes badX5c = cat({{0xA3, 0x01},
                        textString("packed"),
                        {0x02},
                        byteString(authData()),
                        {0x03},
                        {0xA3},
                        textString("alg"),
                        {0x26},
                        textString("sig"),
                        byteString(signature()),
                        textString("x5c"),
                        {0x81},
                        byteString({0x30, 0x03, 0x02, 0x01, 0x01})});
    cases.push_back(
        {{"decode", "makecred", file("bad-x5c.bin", badX5c), hashOption, clientDataHash},
         "Fetch certifications failed2222!"});
    Bytes shortRegistration(registration.begin(), registration.begin() + 120);
    cases.push_back({{"decode", "u2f", file("reg-cut.bin", shortRegistration), "--challenge",
                      challenge, "--application", application},
                     "Fetch certifications failed6666!"});
    cases.push_back({{"decode", "cert", file("garbage.der", {0x30, 0x82, 0x01, 0x00, 0x01})},
                     "is not an X.509 certificate"});
    cases.push_back(
        {{"decode", "cert", file("cut.der", Bytes(attestation.begin(), attestation.end() - 1))},
         "is not an X.509 certificate"});

    for (const Case& c : cases) {
        for (bool asJson : {false, true}) {
            std::vector<std::string> args = c.args;
            if (asJson) {
                args.insert(args.begin(), "--json");
            }
            CliResult r = runCli(args);
            EXPECT_EQ(r.status, 1) << testing::PrintToString(args) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos)
                << testing::PrintToString(args) << " said: " << r.err;
            if (asJson) {
                json document;  // still one JSON document, saying what went wrong
                EXPECT_NO_THROW(document = json::parse(r.out)) << r.out;
                EXPECT_TRUE(document.contains("error")) << r.out;
            }
        }
    }
}

}  // namespace
}  // namespace orvanta::test
