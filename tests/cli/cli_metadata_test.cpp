// The metadata BLOB end to end: a BLOB signed under a root made here, naming the virtual
// key, loaded with --mds and --mds-root.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cert/fido2_fetch.h"
#include "cli/exit_codes.h"
#include "cli_harness.h"
#include "info/device_context.h"
#include "mds/metadata_blob.h"
#include "sim/attestation.h"
#include "sim/profile.h"
#include "support/test_pki.h"
#include "support/virtual_key_setup.h"
#include "transport/exchange.h"

namespace orvanta::test {
namespace {

using Bytes = std::vector<uint8_t>;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string hexLower(std::span<const uint8_t> bytes) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += HEX[b >> 4];
        text += HEX[b & 0x0F];
    }
    return text;
}

class CliMetadata : public ::testing::Test {
  protected:
    CliMetadata() {
        root = makeKey(KeyKind::P256);
        rootDer = makeCertificate(rootRequest("Test Metadata Root"), root.get(), root.get());
        writeFile(tmp.file("root.pem"), toPem(rootDer));
    }

    // A BLOB whose entries name the virtual key (FIDO2 by AAGUID, U2F by key identifier)
    // with the virtual root CA as the attestation root and `status` as the latest report.
    std::string blobFor(const std::string& status, const std::string& nextUpdate = "2999-01-01") {
        const VirtualAttestation& attestation =
            VirtualAttestation::forProfile(profileByName("full"));
        const std::string virtualRoot = base64Standard(attestation.caCertificate());
        const auto id = attestationKeyIdentifier(attestation.certificate());
        EXPECT_TRUE(id.has_value());
        const std::string reports =
            R"([{"status":"FIDO_CERTIFIED_L1","effectiveDate":"2023-02-01"},)"
            R"({"status":")" +
            status + R"(","effectiveDate":"2024-06-01"}])";
        const std::string payload =
            R"({"no":3,"nextUpdate":")" + nextUpdate +
            R"(","entries":[)"
            R"({"aaguid":"4f525641-4e54-412d-5649-525455414c31","metadataStatement":)"
            R"({"description":"Orvanta Virtual Key FIDO2","attestationRootCertificates":[")" +
            virtualRoot + R"("]},"statusReports":)" + reports +
            R"(},{"attestationCertificateKeyIdentifiers":[")" + hexLower(*id) +
            R"("],"metadataStatement":{"description":"Orvanta Virtual Key U2F",)"
            R"("attestationRootCertificates":[")" +
            virtualRoot + R"("]},"statusReports":)" + reports + "}]}";
        Pkey signer = makeKey(KeyKind::P256);
        const Bytes signerDer = makeCertificate(
            issuedRequest("Test Metadata Signer", "Test Metadata Root"), signer.get(), root.get());
        return signJwt(payload, "ES256", signer.get(), {signerDer});
    }

    CliResult run(const std::string& blob, std::vector<std::string> extra = {}) {
        writeFile(tmp.file("blob.jwt"), blob);
        std::vector<std::string> args{"--mds",          tmp.file("blob.jwt"),
                                      "--mds-root",     tmp.file("root.pem"),
                                      "--virtual=full", "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("all");
        return runCli(args);
    }

    TempDir tmp;
    Pkey root;
    Bytes rootDer;
};

TEST_F(CliMetadata, NamesTheKeyChecksItsChainAndFailsOnARevokedKey) {
    CliResult r = run(blobFor("FIDO_CERTIFIED_L2"));
    ASSERT_EQ(r.status, cli::EXIT_DONE) << r.err;
    EXPECT_NE(r.out.find("Authenticator               Orvanta Virtual Key FIDO2"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Certification status  FIDO_CERTIFIED_L2 (2024-06-01)"),
              std::string::npos);
    EXPECT_NE(r.out.find("Authenticator         Orvanta Virtual Key U2F"), std::string::npos);
    // Every certificate of both pages, the virtual root's included, chains to the entry's root.
    size_t at = 0;
    int chained = 0;
    while ((at = r.out.find("Chain Result", at)) != std::string::npos) {
        EXPECT_EQ(r.out.compare(r.out.find_first_not_of(' ', at + 12), 3, "YES"), 0);
        ++chained;
        ++at;
    }
    EXPECT_EQ(chained, 3);

    // Refused by policy: the warning is the line on standard error and the JSON "error".
    CliResult revoked = run(blobFor("REVOKED"));
    EXPECT_EQ(revoked.status, cli::EXIT_FAILED);
    const std::string warning =
        "The metadata BLOB reports this key as REVOKED since "
        "2024-06-01: its attestation must not be trusted.";
    EXPECT_NE(revoked.err.find(warning + "\n"), std::string::npos) << revoked.err;
    CliResult revokedJson = run(blobFor("REVOKED"), {"--json"});
    EXPECT_EQ(revokedJson.status, cli::EXIT_FAILED);
    EXPECT_EQ(nlohmann::json::parse(revokedJson.out).at("error"), warning) << revokedJson.out;

    // One character of the BLOB changed: refused with a message, nothing shown.
    std::string tampered = blobFor("FIDO_CERTIFIED_L2");
    char& changed = tampered[tampered.find('.') + 10];
    changed = changed == 'A' ? 'B' : 'A';
    CliResult refused = run(tampered);
    EXPECT_EQ(refused.status, cli::EXIT_FAILED);
    EXPECT_NE(refused.err.find("signature does not verify"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out.find("Authenticator"), std::string::npos);
}

TEST_F(CliMetadata, DecodeOfARevokedOrCompromisedKeysReplyFailsWithTheSameWarning) {
    // A makeCredential reply recorded from the key the BLOB names.
    ManualClock clock{1000};
    VirtualKeySetup setup = makeVirtualKey("full", clock);
    DeviceContext devices(setup.backend, clock);
    devices.enumerate();
    ASSERT_EQ(devices.select(0, 0), 1);
    Result<CborReply> made = sendCbor(devices.session(), buildMakeCredentialRequest(nullptr));
    ASSERT_TRUE(made.ok());
    ASSERT_EQ(made->status, 0);
    writeFile(tmp.file("mc.bin"), std::string(made->data.begin(), made->data.end()));

    for (const std::string status :
         {"FIDO_CERTIFIED_L2", "REVOKED", "ATTESTATION_KEY_COMPROMISE"}) {
        writeFile(tmp.file("blob.jwt"), blobFor(status));
        CliResult r = runCli({"--mds", tmp.file("blob.jwt"), "--mds-root", tmp.file("root.pem"),
                              "decode", "makecred", tmp.file("mc.bin")});
        const bool refused = status != "FIDO_CERTIFIED_L2";
        EXPECT_EQ(r.status, refused ? cli::EXIT_FAILED : cli::EXIT_DONE) << status << r.err;
        EXPECT_NE(r.out.find("Certification status  " + status), std::string::npos) << r.out;
        const std::string warning = "The metadata BLOB reports this key as " + status +
                                    " since 2024-06-01: its attestation must not be trusted.\n";
        EXPECT_EQ(r.err.find(warning) != std::string::npos, refused) << r.err;
    }
}

TEST_F(CliMetadata, TextsOfASignedBlobReachStandardErrorTerminalSafe) {
    // Signed under the trusted root, yet its texts try to forge a line and clear the screen.
    const std::string forged = R"(\r\nVerify Result    YES\u001b[2J)";
    CliResult r = run(blobFor("X" + forged + "_COMPROMISE", "2001-01-01" + forged));
    EXPECT_EQ(r.status, cli::EXIT_FAILED);
    EXPECT_EQ(r.err.find_first_of("\r\x1b"), std::string::npos) << r.err;
    const std::string shown = "\\x0d\\x0aVerify Result    YES\\x1b[2J";
    EXPECT_NE(r.err.find("was due on 2001-01-01" + shown + ".\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("reports this key as X" + shown + "_COMPROMISE since"), std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace orvanta::test
