// The command line against what users and keys can throw at it: one JSON document for every
// ending, exports that never destroy the file they replace, and a PIN read from standard
// input without a library buffer.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "cli/exit_codes.h"
#include "cli_harness.h"

namespace orvanta::test {
namespace {

using nlohmann::json;

TEST(CliJson, EveryEndingIsOneDocumentWhoseErrorSaysWhatWentWrong) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string error;  // empty: null
    };
    const Case cases[] = {
        {{"--virtual=silent", "info"},
         cli::EXIT_FAILED,
         "The key Orvanta Virtual Key (virtual:0:0) does not answer."},
        {{"--virtual=busy", "info"},
         cli::EXIT_FAILED,
         "The key Orvanta Virtual Key (virtual:0:0) answered every request with an error; the "
         "page is incomplete."},
        {{"infos"}, cli::EXIT_USAGE, "Unknown command \"infos\"; did you mean \"info\"?"},
        {{"--virtual=nope", "info"}, cli::EXIT_USAGE, "Unknown virtual key profile \"nope\""},
        {{"--bogus", "info"}, cli::EXIT_USAGE, "The following argument was not expected: --bogus"},
        {{"decode", "cert", "/nonexistent/file"},
         cli::EXIT_FAILED,
         "cannot read /nonexistent/file"},
        {{"--mds", "/nonexistent/blob", "info"},
         cli::EXIT_FAILED,
         "Cannot read the metadata BLOB /nonexistent/blob."},
        {{"--virtual", "--device", "1234:5678", "info"},
         cli::EXIT_NO_KEY,
         "No security key 1234:5678 found."},
        // The fetch that failed, not the progress written after it.
        {{"--virtual=u2f-only", "--yes", "all"},
         cli::EXIT_FAILED,
         "The FIDO2 fetch ended without certificates."},
        {{"--virtual=ctap2-only", "--yes", "u2f"},
         cli::EXIT_FAILED,
         "The U2F fetch ended without certificates."},
        {{"--virtual", "fido2"}, cli::EXIT_FAILED, "The FIDO2 fetch was cancelled."},
        {{"--virtual=pin", "--yes", "fido2"}, cli::EXIT_FAILED, "The FIDO2 fetch was cancelled."},
        {{"--virtual", "--yes", "export", "u2f", "/nonexistent/a.der"},
         cli::EXIT_FAILED,
         "Cannot write /nonexistent/a.der: No such file or directory"},
        {{"--virtual", "--yes", "export", "u2f", "/nonexistent/a.der", "--index", "2"},
         cli::EXIT_FAILED,
         "The page shows 1 certificate; there is no certificate 2 to export."},
        {{"--virtual", "--yes", "all"}, cli::EXIT_DONE, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        CliResult result = runCli(args);
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(result.status, c.status) << result.err;
        json document = json::parse(result.out);  // one document, whatever happened
        ASSERT_TRUE(document.contains("error")) << result.out;
        if (c.error.empty()) {
            EXPECT_TRUE(document["error"].is_null());
            EXPECT_TRUE(document.contains("pages"));
            continue;
        }
        ASSERT_TRUE(document["error"].is_string());
        const std::string error = document["error"].get<std::string>();
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        EXPECT_NE(result.err.find(error), std::string::npos);  // as standard error told it
    }
}

// The device options are checked as the window checks them, with the same sentences.
TEST(CliUsage, DeviceOptionsThatDoNotGoTogetherOrLackAValue) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--virtual", "--udp", "info"}, "--virtual excludes --udp."},
        {{"--udp", "--pcsc", "list"}, "--udp excludes --pcsc."},
        {{"--pcsc", "--device", "1209:0001", "info"},
         "--device names a USB key; with --pcsc name the reader instead."},
        {{"--udp", "--udp-reply-port", "0", "info"},
         "--udp-reply-port needs a port number from 1 to 65535."},
        {{"--device", "info"}, "--device needs VID:PID as hexadecimal IDs, for example 1209:0001."},
        {{"--virtual", "--mds", "info"}, "--mds needs the metadata BLOB's file."},
    };
    for (const auto& [args, message] : cases) {
        CliResult result = runCli(args);
        EXPECT_EQ(result.status, cli::EXIT_USAGE) << args[0];
        EXPECT_EQ(result.err, message + "\n");
    }
}

TEST(CliExport, AFailedWriteLeavesTheExistingFileAsItWas) {
    TempDir dir;
    const std::string target = dir.file("attestation.der");
    writeText(target, "the certificate exported yesterday");
    // A file size limit below the certificate's size makes the write fail part way.
    pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        CliResult result = runCli({"--virtual", "--yes", "export", "u2f", target});
        _exit(result.status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), cli::EXIT_FAILED);
    EXPECT_EQ(readText(target), "the certificate exported yesterday");
    EXPECT_EQ(dir.entries().size(), 1u);  // no half-written file left beside it

    CliResult written = runCli({"--virtual", "--yes", "export", "u2f", target});
    EXPECT_EQ(written.status, cli::EXIT_DONE) << written.err;
    EXPECT_GT(readText(target).size(), 100u);
}

TEST(CliBinary, PinFromStandardInputLeavesTheRestOfTheInputUnread) {
    // What follows the PIN line belongs to whoever reads standard input next; a stream
    // buffer would have taken it (and kept a copy of the PIN).
    TempDir dir;
    const std::string input = dir.file("input");
    writeText(input, "1234\nnext line\n");
    const std::string command =
        std::string("( '") + ORVANTA_CLI_PATH +
        "' --virtual=pin --yes --pin-stdin fido2 >/dev/null 2>&1; cat ) < '" + input + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[64] = {};
    const size_t got = fread(buffer, 1, sizeof buffer - 1, pipe);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(std::string(buffer, got), "next line\n");
}

TEST(CliBinary, TerminatedWhileTheKeyWaitsForATouchItCleansUpAndEndsByTheSignal) {
    TempDir tmp;
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        setenv("TMPDIR", tmp.path().c_str(), 1);
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        close(errPipe[1]);
        execl(ORVANTA_CLI_PATH, ORVANTA_CLI_PATH, "--virtual=slow-touch", "--yes", "fido2",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(errPipe[1]);
    // Once the key waits for its touch, the user gives up.
    std::string err;
    char c = 0;
    while (err.find("Touch your security key...\n") == std::string::npos &&
           read(errPipe[0], &c, 1) == 1) {
        err += c;
    }
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(errPipe[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << err;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_TRUE(tmp.entries().empty());  // its private directory went with it
}

TEST(CliList, ASimulatorCountsAsOpenedOnlyOnceItAnswers) {
    // Nothing listens on the simulator port: the socket opens, the simulator is not there.
    CliResult result = runCli({"--udp", "127.0.0.1:9", "--udp-reply-port", "47119", "list"});
    EXPECT_EQ(result.status, cli::EXIT_NO_KEY);
    EXPECT_NE(result.out.find("cannot open: no reply from the simulator"), std::string::npos)
        << result.out;
}

}  // namespace
}  // namespace orvanta::test
