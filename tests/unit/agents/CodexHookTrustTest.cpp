#include "agents/CodexHookTrust.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/stat.h>

#include "TestFiles.hpp"
#include "common/Quoting.hpp"

namespace vesperon {

void PrintTo(const CodexHookTrust& trust, std::ostream* out) {
    *out << static_cast<int>(trust.kind()) << " \"" << trust.message() << "\"";
}

namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeText;
using Json = nlohmann::json;
using Kind = CodexHookTrust::Kind;

constexpr const char* exe = "/Applications/Vesperon.app/Contents/MacOS/Vesperon";
constexpr const char* command = "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' "
                                "--agent-event codex";
// As Codex reports them: camel case.
const std::vector<std::string> events = {"userPromptSubmit",  "preToolUse",    "postToolUse",
                                         "permissionRequest", "stop",          "interrupt",
                                         "sessionEnd",        "subagentStart", "subagentStop"};

const CodexHookTrust missing = CodexHookTrust::unavailable(
    "Some Vesperon hooks are missing from Codex. Reconnect Codex and restart it.");
const CodexHookTrust unknownTrust = CodexHookTrust::unavailable(
    "Codex hooks are disabled or their trust status is unknown. Review them in Codex.");
const CodexHookTrust badAnswer =
    CodexHookTrust::unavailable("Codex could not report its hook status.");
const CodexHookTrust noAnswer = CodexHookTrust::unavailable(
    "Codex did not answer the hook check. Try again after restarting it.");
const CodexHookTrust notRequested =
    CodexHookTrust::unavailable("Codex hook status could not be requested.");
const CodexHookTrust notLaunched =
    CodexHookTrust::unavailable("Codex hook status could not be checked.");
const CodexHookTrust notFound = CodexHookTrust::unavailable(
    "Codex CLI was not found. Install or open Codex before watching its work.");

Json hook(const std::string& event, const std::string& cmd = command, Json enabled = true,
          Json trust = "trusted") {
    return {{"key", "/home/user/.codex/hooks.json:" + event + ":0:0"},
            {"eventName", event},
            {"handlerType", "command"},
            {"command", cmd},
            {"enabled", enabled},
            {"trustStatus", trust},
            {"source", "user"}};
}

std::vector<Json> allTrusted() {
    std::vector<Json> hooks;
    for (const auto& event : events) {
        hooks.push_back(hook(event));
    }
    return hooks;
}

std::string answer(const std::vector<Json>& hooks, Json errors = Json::array()) {
    const Json entry = {
        {"cwd", "/home/user"}, {"hooks", hooks}, {"warnings", Json::array()}, {"errors", errors}};
    return Json{{"id", 2}, {"result", {{"data", Json::array({entry})}}}}.dump() + "\n";
}

bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    // Killed and waiting for its new parent to collect it counts as gone.
    std::istringstream stat(readFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string id, name, state;
    stat >> id >> name >> state;
    return state == "Z";
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class CodexHookTrustTest : public ::testing::Test {
  protected:
    TempFolder dir;

    // Puts a "codex" into `folder` that runs the stand-in with `options`, recording
    // what it received and its process ids.
    std::string installStandin(const std::vector<std::string>& options,
                               const std::string& folder = "bin") {
        std::string script = "#!/bin/sh\nexec " + shellQuote(VESPERON_CODEX_STANDIN) +
                             " --record " + shellQuote(dir / "record") + " --pidfile " +
                             shellQuote(dir / "pids");
        for (const auto& option : options) {
            script += " " + shellQuote(option);
        }
        script += " \"$@\"\n";
        const std::string path = dir / (folder + "/codex");
        writeText(path, script);
        ::chmod(path.c_str(), 0755);
        return path;
    }

    CodexHookTrust::Search here() const { return {{}, dir / "bin"}; }

    // Runs the check against a stand-in that prints `reply` after the requests.
    CodexHookTrust checkWith(const std::string& reply, std::vector<std::string> options = {},
                             const std::string& cwd = "/home/user") {
        writeText(dir / "reply", reply);
        options.insert(options.end(), {"--reply", dir / "reply"});
        installStandin(options);
        return checkHere(cwd);
    }

    CodexHookTrust checkHere(const std::string& cwd = "/home/user") {
        const auto result = CodexHookTrust::check(exe, cwd, here());
        expectStandinGone();
        return result;
    }

    // The check and the seconds it took; the stand-in is looked for afterwards.
    std::pair<CodexHookTrust, double> timedCheck(const std::string& cwd = "/home/user") {
        const auto start = std::chrono::steady_clock::now();
        auto result = CodexHookTrust::check(exe, cwd, here());
        const double took = secondsSince(start);
        expectStandinGone();
        return {std::move(result), took};
    }

    void expectStandinGone() {
        std::istringstream pids(readFile(dir / "pids"));
        int count = 0;
        for (pid_t pid; pids >> pid; ++count) {
            // The child itself is reaped before the check returns; what it started
            // has been sent SIGKILL, which the kernel may take a moment to carry out.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!processGone(pid) && std::chrono::steady_clock::now() < giveUp) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_TRUE(processGone(pid)) << "process " << pid << " still runs";
        }
        EXPECT_GT(count, 0) << "the stand-in did not start";
    }
};

TEST_F(CodexHookTrustTest, AllNineTrustedAndEnabledIsTrustedAndTheRequestsAreExact) {
    EXPECT_EQ(checkWith(answer(allTrusted()), {"--notifications", "3"}), CodexHookTrust::trusted());
    const std::string record = readFile(dir / "record");
    EXPECT_EQ(record, "app-server --listen stdio://\n" +
                          readFile(VESPERON_AGENT_FIXTURES
                                   "/codex-0.169.0-app-server-hooks-list.in.jsonl"));
}

TEST_F(CodexHookTrustTest, TheRecordedCodexAnswerNeedsReview) {
    // Everything the real Codex printed, notifications included: all nine untrusted.
    EXPECT_EQ(checkWith(readFile(VESPERON_AGENT_FIXTURES
                                 "/codex-0.169.0-app-server-hooks-list.out.jsonl")),
              CodexHookTrust::needsReview());
}

TEST_F(CodexHookTrustTest, TrustIsClassifiedAsCodexReportsIt) {
    auto oneUntrusted = allTrusted();
    oneUntrusted[4]["trustStatus"] = "untrusted";
    auto oneDisabled = allTrusted();
    oneDisabled[2]["enabled"] = false;
    auto untrustedAndDisabled = oneUntrusted;
    untrustedAndDisabled[0]["enabled"] = false;
    auto eightOfNine = allTrusted();
    eightOfNine.erase(eightOfNine.begin() + 5);
    auto missingAndUntrusted = eightOfNine;
    missingAndUntrusted[0]["trustStatus"] = "untrusted";
    auto otherPath = allTrusted();
    otherPath[8]["command"] = "'/Old/Vesperon' --agent-event codex";
    otherPath.push_back(hook("interrupt", "'/Old/Vesperon' --agent-event codex"));
    auto otherPathExtra = allTrusted();
    otherPathExtra.push_back(hook("stop", "'/Old/Vesperon' --agent-event codex", false,
                                  "untrusted")); // not ours: does not count either way
    auto modified = allTrusted();
    modified[1]["trustStatus"] = "modified";
    auto enabledAsText = allTrusted();
    enabledAsText[3]["enabled"] = "true";
    auto noTrustStatus = allTrusted();
    noTrustStatus[3].erase("trustStatus");
    auto otherCase = allTrusted();
    otherCase[0]["eventName"] = "UserPromptSubmit";
    otherCase[6]["eventName"] = "SESSIONEND";
    auto unnamed = allTrusted();
    unnamed[7]["eventName"] = 7;

    const std::vector<std::pair<std::vector<Json>, CodexHookTrust>> cases = {
        {oneUntrusted, CodexHookTrust::needsReview()},
        {oneDisabled, unknownTrust},
        {untrustedAndDisabled, CodexHookTrust::needsReview()},
        {eightOfNine, missing},
        {missingAndUntrusted, missing},
        {otherPath, missing},
        {otherPathExtra, CodexHookTrust::trusted()},
        {modified, unknownTrust},
        {enabledAsText, unknownTrust},
        {noTrustStatus, unknownTrust},
        {otherCase, CodexHookTrust::trusted()},
        {unnamed, missing},
        {{}, missing},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(checkWith(answer(cases[i].first)), cases[i].second) << "case " << i;
    }
}

TEST_F(CodexHookTrustTest, AnswersWithoutTheExpectedStructureAreNotAStatus) {
    const Json okEntry = Json::parse(answer(allTrusted()))["result"]["data"][0];
    auto withEntry = [](Json entry) {
        return Json{{"id", 2}, {"result", {{"data", Json::array({entry})}}}}.dump() + "\n";
    };
    Json noErrors = okEntry;
    noErrors.erase("errors");
    Json errorsNotArray = okEntry;
    errorsNotArray["errors"] = Json::object();
    Json hooksNotObjects = okEntry;
    hooksNotObjects["hooks"].push_back("x");
    Json noHooks = okEntry;
    noHooks.erase("hooks");
    const std::vector<std::string> replies = {
        answer(allTrusted(), Json::array({{{"path", "/home/user/.codex/hooks.json"},
                                           {"message", "parse error"}}})),
        R"({"id":2,"error":{"code":-32601,"message":"unknown method"}})"
        "\n",
        R"({"id":2,"result":{"data":[]}})"
        "\n",
        R"({"id":2,"result":{"data":{}}})"
        "\n",
        R"({"id":2,"result":[]})"
        "\n",
        R"({"id":2,"result":{"data":[7]}})"
        "\n",
        withEntry(noErrors),
        withEntry(errorsNotArray),
        withEntry(hooksNotObjects),
        withEntry(noHooks),
    };
    for (const auto& reply : replies) {
        EXPECT_EQ(checkWith(reply), badAnswer) << reply;
    }
}

TEST_F(CodexHookTrustTest, OutputBeyondOneMebibyteEndsTheCheckAtOnce) {
    installStandin({"--flood", std::to_string(2 * 1024 * 1024), "--then", "hang"});
    const auto [result, took] = timedCheck();
    EXPECT_EQ(result, noAnswer);
    EXPECT_LT(took, 4.0);
}

TEST_F(CodexHookTrustTest, ACodexThatStopsReadingCannotBeAsked) {
    // The request for a very long folder name overfills the pipe; the reader is
    // gone, so the write fails (and SIGPIPE must not end this process).
    installStandin({"--close-input"});
    EXPECT_EQ(checkHere("/" + std::string(300000, 'a')), notRequested);
    // A folder name that is not valid UTF-8 has no JSON form: nothing is started.
    std::filesystem::remove(dir / "pids");
    std::filesystem::remove(dir / "record");
    EXPECT_EQ(CodexHookTrust::check(exe, "/home/\xff", here()), notRequested);
    EXPECT_FALSE(std::filesystem::exists(dir / "record"));
}

TEST_F(CodexHookTrustTest, CodexIsLookedForInTheFixedPlacesFirstThenOnThePath) {
    EXPECT_EQ(CodexHookTrust::check(exe, "/home/user", {{}, ""}), notFound);
    EXPECT_EQ(CodexHookTrust::findCodex({{dir / "none/codex"}, ":" + dir.path() + "::"}),
              std::nullopt);

    const std::string bundled = installStandin({}, "ChatGPT.app/MacOS");
    EXPECT_EQ(CodexHookTrust::findCodex({{dir / "missing/codex", bundled}, ""}), bundled);

    // Not executable, or not a file: skipped; empty parts of the path are skipped.
    writeText(dir / "plain/codex", "#!/bin/sh\n");
    ::chmod((dir / "plain/codex").c_str(), 0644);
    std::filesystem::create_directories(dir / "folder/codex");
    const std::string onPath = installStandin({}, "later");
    const std::string path = "::" + dir / "plain" + ":" + dir / "folder" + "::" + dir / "later";
    EXPECT_EQ(CodexHookTrust::findCodex({{}, path}), onPath);
    EXPECT_EQ(CodexHookTrust::findCodex({{bundled}, path}), bundled);
    EXPECT_EQ(CodexHookTrust::findCodex({{dir / "plain/codex"}, dir / "plain"}), std::nullopt);

    // Without a path given, PATH is what is searched.
    std::filesystem::create_directories(dir / "bin");
    const char* saved = std::getenv("PATH");
    const std::string previous = saved ? saved : "";
    ::setenv("PATH", (dir / "later").c_str(), 1);
    EXPECT_EQ(CodexHookTrust::findCodex({{}, std::nullopt}), onPath);
    ::setenv("PATH", previous.c_str(), 1);
}

TEST_F(CodexHookTrustTest, ACodexThatCannotBeStartedIsReported) {
    writeText(dir / "bin/codex", std::string("\x7f"
                                             "ELF garbage",
                                             12));
    ::chmod((dir / "bin/codex").c_str(), 0755);
    EXPECT_EQ(CodexHookTrust::check(exe, "/home/user", here()), notLaunched);
    writeText(dir / "bin/codex", "#!/no/such/interpreter\n");
    EXPECT_EQ(CodexHookTrust::check(exe, "/home/user", here()), notLaunched);
}

// The cases below wait for the five-second time-out; each runs as its own test so
// that they run side by side.

TEST_F(CodexHookTrustTest, SilenceAfterInitializeTimesOutAndTheChildIsStopped) {
    installStandin({"--then", "hang"});
    const auto [result, took] = timedCheck();
    EXPECT_EQ(result, noAnswer);
    EXPECT_GE(took, 4.9);
    EXPECT_LT(took, 7.0);
}

TEST_F(CodexHookTrustTest, AChildIgnoringTerminationIsKilledWithWhatItStarted) {
    installStandin({"--ignore-term", "--grandchild", "--then", "hang"});
    const auto [result, took] = timedCheck();
    EXPECT_EQ(result, noAnswer);
    EXPECT_LT(took, 7.0);
}

TEST_F(CodexHookTrustTest, ACodexThatNeverReadsIsGivenUpOnAfterTheTimeOut) {
    installStandin({"--no-read", "--then", "hang"});
    const auto [result, took] = timedCheck("/" + std::string(300000, 'a'));
    EXPECT_EQ(result, notRequested);
    EXPECT_GE(took, 4.9);
    EXPECT_LT(took, 7.0);
}

} // namespace
} // namespace vesperon
