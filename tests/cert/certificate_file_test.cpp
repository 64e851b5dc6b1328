#include "cert/certificate_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/scripted_prompts.h"
#include "support/temp_dir.h"

namespace orvanta::test {
namespace {

bool exists(const std::string& path) {
    struct stat info = {};
    return stat(path.c_str(), &info) == 0;
}

TEST(TemporaryDirectory, TmpdirOrTmp) {
    {
        ScopedEnvironment set("TMPDIR", "/var/tmp/x");
        EXPECT_EQ(temporaryDirectory(), "/var/tmp/x");
    }
    {
        ScopedEnvironment empty("TMPDIR", "");
        EXPECT_EQ(temporaryDirectory(), "/tmp");
    }
}

TEST(CertificateFile, WritesAFreshPrivateCerFileAndRemembersIt) {
    ScopedTmpdir temp;
    Fido2CertPage page;
    const std::vector<uint8_t> bytes = {0x30, 0x03, 0x02, 0x01, 0x05};
    ASSERT_TRUE(writeCertificateFile(page, bytes.data(), bytes.size()));
    const std::string first = page.certificateFileName;
    EXPECT_EQ(first.rfind(temp.path() + "/f1d0", 0), 0u) << first;
    EXPECT_EQ(first.size(), temp.path().size() + 1 + 4 + 6 + 4);
    EXPECT_EQ(first.substr(first.size() - 4), ".cer");
    EXPECT_EQ(TempDir::read(first), bytes);
    struct stat info = {};
    ASSERT_EQ(stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A second file gets a new name; the first stays on disk, only the last is remembered.
    ASSERT_TRUE(writeCertificateFile(page, bytes.data(), 2));
    EXPECT_NE(page.certificateFileName, first);
    EXPECT_TRUE(exists(first));
    EXPECT_EQ(TempDir::read(page.certificateFileName), (std::vector<uint8_t>{0x30, 0x03}));
    EXPECT_EQ(temp.entries().size(), 2u);  // no extra reservation files
}

TEST(CertificateFile, TrailingSlashInTmpdirAndEmptyContent) {
    ScopedTmpdir temp;
    ScopedEnvironment slash("TMPDIR", temp.path() + "/");
    U2fCertPage page;
    ASSERT_TRUE(writeCertificateFile(page, nullptr, 0));
    EXPECT_EQ(page.certificateFileName.find("//"), std::string::npos);
    EXPECT_TRUE(TempDir::read(page.certificateFileName).empty());
}

TEST(CertificateFile, NoTemporaryNameKeepsThePreviousPath) {
    ScopedEnvironment missing("TMPDIR", "/nonexistent-orvanta-dir");
    U2fCertPage page;
    page.certificateFileName = "/tmp/previous.cer";
    const uint8_t byte = 0x30;
    EXPECT_FALSE(writeCertificateFile(page, &byte, 1));
    EXPECT_EQ(page.certificateFileName, "/tmp/previous.cer");

    ScriptedPrompts prompts;
    page.addCertificate(PageCertificate{{0x30, 0x00}, std::nullopt});
    exportCertificate(page, 0, prompts);
    EXPECT_TRUE(prompts.openedFiles.empty());  // nothing was written, nothing to open
}

TEST(Export, WritesTheHeldCertificateAndOpensIt) {
    ScopedTmpdir temp;
    Fido2CertPage page;
    ScriptedPrompts prompts;
    page.addCertificate(PageCertificate{{0x01}, std::nullopt});
    page.addCertificate(PageCertificate{{'a', 'b', 'c'}, true});
    exportCertificate(page, 1, prompts);
    ASSERT_EQ(prompts.openedFiles.size(), 1u);
    EXPECT_EQ(prompts.openedFiles[0], page.certificateFileName);
    EXPECT_EQ(TempDir::read(prompts.openedFiles[0]), (std::vector<uint8_t>{'a', 'b', 'c'}));

    // An index the page does not hold writes and opens nothing.
    exportCertificate(page, 2, prompts);
    EXPECT_EQ(prompts.openedFiles.size(), 1u);
    EXPECT_EQ(temp.entries().size(), 1u);
}

TEST(Export, AClearAndThePageItselfRemoveEveryTemporaryFileOfThePage) {
    ScopedTmpdir temp;
    U2fCertPage page;
    ScriptedPrompts prompts;
    page.showU2fTips();
    page.clearCertificatePage();  // never shown a certificate: deletes nothing
    EXPECT_TRUE(temp.entries().empty());

    page.addCertificate(PageCertificate{{0x30, 0x03, 0x02, 0x01, 0x05}, std::nullopt});
    exportCertificate(page, 0, prompts);
    exportCertificate(page, 0, prompts);
    ASSERT_EQ(prompts.openedFiles.size(), 2u);
    EXPECT_EQ(temp.entries().size(), 2u);

    page.clearCertificatePage();
    EXPECT_TRUE(temp.entries().empty());
    EXPECT_EQ(page.certificateFileName, prompts.openedFiles[1]);  // the name stays
    page.clearCertificatePage();                                  // a second clear fails silently

    {
        U2fCertPage other;
        other.addCertificate(PageCertificate{{0x30, 0x00}, std::nullopt});
        exportCertificate(other, 0, prompts);
        EXPECT_EQ(temp.entries().size(), 1u);
    }
    EXPECT_TRUE(temp.entries().empty());  // gone with the page, as when the program ends
}

}  // namespace
}  // namespace orvanta::test
