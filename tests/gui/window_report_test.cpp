// The window's report is the command line's: "Save report…" writes the JSON document of
// `orvanta-cli --json all` or the text of `orvanta-cli all`, and both programs take the
// same list of virtual keys.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QFileDialog>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/command_line.h"
#include "cli/cli.h"
#include "gui/lock_holder.h"
#include "gui/window_fixture.h"

namespace orvanta {
namespace {

using test::WindowFixture;

enum { HARDWARE = 0, FIDO2 = 1, U2F = 2 };

class NoTerminal final : public cli::Terminal {
  public:
    bool available() override { return false; }
    std::optional<std::string> readLine(const std::string&, bool) override { return {}; }
};

// orvanta-cli in-process on a clock of its own; its standard output.
std::string runCli(std::vector<std::string> args, int expectedStatus = 0) {
    args.insert(args.begin(), "orvanta-cli");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    NoTerminal terminal;
    ManualClock clock{1000};
    EXPECT_EQ(cli::run(static_cast<int>(argv.size()), argv.data(), in, out, err,
                       cli::Environment{terminal, clock}),
              expectedStatus)
        << err.str();
    return out.str();
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class Report : public WindowFixture {
  protected:
    void SetUp() override {
        dir = test::makeTempDir();
        backend->addDevice("default");
        openSettled();
        prompts.okCancelDefault = true;
        activateRow(FIDO2, 0);
        activateRow(U2F, 0);
        ASSERT_GE(rowWithLabel(FIDO2, QStringLiteral("Base64 encode")), 0);
        ASSERT_GE(rowWithLabel(U2F, QStringLiteral("Base64 encode")), 0);
    }
    void TearDown() override {
        WindowFixture::TearDown();
        std::filesystem::remove_all(dir);
    }
    QString file(const char* name) const { return QString::fromStdString((dir / name).string()); }

    std::filesystem::path dir;
};

TEST_F(Report, SavedJsonIsTheDocumentOfTheCommandLine) {
    QString error;
    ASSERT_TRUE(window->saveReport(file("report.json"), ReportFormat::Json, &error))
        << error.toStdString();
    EXPECT_EQ(readFile(dir / "report.json"), runCli({"--json", "--virtual", "--yes", "all"}));
}

TEST_F(Report, SavedTextIsThePagesOfTheCommandLine) {
    ASSERT_TRUE(window->saveReport(file("report.txt"), ReportFormat::Text));
    EXPECT_EQ(readFile(dir / "report.txt"), runCli({"--virtual", "--yes", "all"}));
}

TEST_F(Report, SaveReportActionAsksForTheFileAndTakesJsonFromItsName) {
    const QString path = file("chosen.json");
    int asked = 0;
    test::ScopedModalHook hook([&](QDialog& dialog) {
        auto* chooser = qobject_cast<QFileDialog*>(&dialog);
        EXPECT_NE(chooser, nullptr);
        ++asked;
        if (chooser == nullptr) {
            return static_cast<int>(QDialog::Rejected);
        }
        EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
        chooser->selectFile(path);
        return static_cast<int>(QDialog::Accepted);
    });
    window->saveReportAction()->trigger();
    EXPECT_EQ(asked, 1);
    const nlohmann::json document = nlohmann::json::parse(readFile(dir / "chosen.json"));
    EXPECT_TRUE(document["error"].is_null());
    ASSERT_EQ(document["pages"].size(), 3u);
    EXPECT_EQ(document["pages"][0]["page"], "hardware info");
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Report, UnwritableFileIsRefusedWithTheReasonAndLeavesNothing) {
    QString error;
    EXPECT_FALSE(window->saveReport(file("missing/report.txt"), ReportFormat::Text, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(Report, FifoStaysAFifoAndItsReaderGetsTheReport) {
    const std::string fifo = (dir / "report.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    QString error;
    EXPECT_TRUE(window->saveReport(QString::fromStdString(fifo), ReportFormat::Text, &error))
        << error.toStdString();
    char buffer[32] = {};
    EXPECT_GT(::read(reader, buffer, sizeof buffer - 1), 0);
    ::close(reader);
    EXPECT_EQ(std::string(buffer).rfind("hardware info\n", 0), 0u) << buffer;
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST(SameKeys, WindowAndCommandLineTakeTheSameListOfVirtualKeys) {
    const nlohmann::json listed =
        nlohmann::json::parse(runCli({"--json", "--virtual=full,pin", "list"}));
    ASSERT_EQ(listed["interfaces"].size(), 2u);
    for (const nlohmann::json& entry : listed["interfaces"]) {
        EXPECT_TRUE(entry["fido"].get<bool>());
        EXPECT_TRUE(entry["opened"].get<bool>());
    }

    const char* argv[] = {"orvanta", "--virtual=full,pin"};
    const AppOptions options = parseCommandLine(2, argv);
    ASSERT_EQ(options.error, "");
    ManualClock clock{1000};
    std::shared_ptr<KeySource> keys = makeKeySource(deviceChoice(options), clock, nullptr);
    ASSERT_NE(keys, nullptr);
    DeviceContext devices(keys, clock);
    test::ScriptedPrompts prompts;
    COrvantaDlg window(devices, &prompts);
    ASSERT_TRUE(test::settle(window));
    EXPECT_EQ(window.keyChooser()->count(), 2);
}

}  // namespace
}  // namespace orvanta
