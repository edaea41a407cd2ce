#include "agents/CodexHookTrust.hpp"

#include <chrono>
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"

namespace vesperon {
namespace {

using Json = nlohmann::json;
using Edit = std::function<void(Json&)>;

constexpr const char* exe = "/Applications/Vesperon.app/Contents/MacOS/Vesperon";
const std::string command = std::string("'") + exe + "' --agent-event codex";
const auto trusted = CodexHookTrust::trusted();
const auto needsReview = CodexHookTrust::needsReview();
const auto missing = CodexHookTrust::unavailable(
    "Some Vesperon hooks are missing from Codex. Reconnect Codex and restart it.");
const auto unknownTrust = CodexHookTrust::unavailable(
    "Codex hooks are disabled or their trust status is unknown. Review them in Codex.");
const auto badAnswer = CodexHookTrust::unavailable("Codex could not report its hook status.");
const auto noAnswer = CodexHookTrust::unavailable(
    "Codex did not answer the hook check. Try again after restarting it.");
const auto notRequested = CodexHookTrust::unavailable("Codex hook status could not be requested.");

// Codex's answer listing our hook, enabled and trusted, for each of the nine events
// (named as Codex reports them); `edit` changes the entry first.
Json answer(const Edit& edit = {}) {
    Json hooks = Json::array();
    for (const char* event : {"userPromptSubmit", "preToolUse", "postToolUse", "permissionRequest",
                              "stop", "interrupt", "sessionEnd", "subagentStart", "subagentStop"}) {
        Json hook = {{"command", command}, {"enabled", true}, {"trustStatus", "trusted"}};
        hook["eventName"] = event;
        hooks.push_back(hook);
    }
    Json entry = {{"cwd", "/home/user"}, {"hooks", hooks}, {"errors", Json::array()}};
    if (edit) {
        edit(entry);
    }
    return {{"id", 2}, {"result", {{"data", Json::array({entry})}}}};
}

TEST(CodexHookTrustAssess, TrustIsClassifiedAsCodexReportsIt) {
    const auto set = [](int index, const char* key, Json value) -> Edit {
        return [=](Json& entry) { entry["hooks"][index][key] = value; };
    };
    const auto push = [](const char* list, Json value) -> Edit {
        return [=](Json& entry) { entry[list].push_back(value); };
    };
    const Json oldPath = "'/Old/Vesperon' --agent-event codex";
    const std::vector<std::pair<Edit, CodexHookTrust>> rows = {
        {{}, trusted},
        {set(4, "trustStatus", "untrusted"), needsReview},
        {set(2, "enabled", false), unknownTrust},
        {[](Json& e) { e["hooks"].erase(5); }, missing},
        {set(8, "command", oldPath), missing},
        {push("hooks", {{"eventName", "stop"}, {"command", oldPath}}), trusted},
        {set(1, "trustStatus", "modified"), unknownTrust},
        {set(6, "eventName", "SESSIONEND"), trusted},
        {set(7, "eventName", 7), missing},
        {push("errors", {{"message", "parse error"}}), badAnswer},
        {push("hooks", "x"), badAnswer},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(CodexHookTrust::assess(answer(rows[i].first), command), rows[i].second)
            << "row " << i;
    }
    for (const char* reply : {R"({"id":2,"error":{"code":-32601,"message":"unknown method"}})",
                              R"({"id":2,"result":{"data":[]}})"}) {
        EXPECT_EQ(CodexHookTrust::assess(Json::parse(reply), command), badAnswer) << reply;
    }
}

// The check against a stand-in "codex" script that runs `body`.
class CodexHookTrustTest : public ::testing::Test {
  protected:
    void installStandin(const std::string& body) {
        testing::writeFile(dir / "bin/codex", "#!/bin/sh\n" + body, 0755);
    }
    std::pair<CodexHookTrust, double> check(const std::string& cwd = "/home/user") {
        const auto start = std::chrono::steady_clock::now();
        auto result = CodexHookTrust::check(exe, cwd, {{}, dir / "bin"});
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return {std::move(result), took.count()};
    }
    testing::TempFolder dir;
};

TEST_F(CodexHookTrustTest, ACodexThatFloodsStopsReadingOrCannotStartIsReported) {
    installStandin("head -c 2097152 /dev/zero; exec sleep 1000\n");
    const auto [flooded, took] = check();
    EXPECT_EQ(flooded, noAnswer);
    EXPECT_LT(took, 4.0) << "more than 1 MiB of output ends the check before the time-out";
    // A long request overfills the pipe of a reader that is gone (SIGPIPE must not end us).
    installStandin("exec 0<&-; exec sleep 1000\n");
    EXPECT_EQ(check("/" + std::string(300000, 'a')).first, notRequested);
}

} // namespace
} // namespace vesperon
