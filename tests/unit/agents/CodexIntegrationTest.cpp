// The trust check against the real Codex app server, with hooks installed by the
// connection setup into a throw-away home folder. Label "integration": not part of
// the quick suite; Codex is installed as AgentPackages.hpp says.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <dirent.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "AgentPackages.hpp"
#include "TestFiles.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "agents/CodexHookTrust.hpp"
#include "common/Quoting.hpp"

namespace vesperon {

void PrintTo(const CodexHookTrust& trust, std::ostream* out) {
    *out << static_cast<int>(trust.kind()) << " \"" << trust.message() << "\"";
}

namespace {

using testing::readFile;
using testing::TempFolder;

// Processes whose environment names `home` as HOME: the Codex we started and
// anything it started.
int processesWithHome(const std::string& home) {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    const std::string wanted = std::string("HOME=") + home;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        const std::string environment =
            readFile(std::string("/proc/") + entry->d_name + "/environ");
        std::size_t start = 0;
        while (start < environment.size()) {
            const std::size_t end = environment.find('\0', start);
            if (environment.compare(start, end - start, wanted) == 0) {
                ++count;
                break;
            }
            start = end == std::string::npos ? environment.size() : end + 1;
        }
    }
    ::closedir(proc);
    return count;
}

class CodexIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        codexBin_ = testing::agentBinFolder("codex");
        if (codexBin_.empty()) {
            GTEST_SKIP() << "Codex from npm is not installed (see AgentPackages.hpp)";
        }
        // Codex finds its hooks file through HOME, which its child inherits.
        const char* saved = std::getenv("HOME");
        savedHome_ = saved != nullptr ? saved : "";
        ::setenv("HOME", home.path().c_str(), 1);
    }
    void TearDown() override {
        if (!savedHome_.empty()) {
            ::setenv("HOME", savedHome_.c_str(), 1);
        }
    }

    CodexHookTrust check() const {
        return CodexHookTrust::check(exe, home.path(), {{}, codexBin_});
    }

    // Marks every hook Codex lists as trusted, the way Codex records the user's
    // review: the hook's current hash under its key in config.toml. `disabled`
    // names one event whose hook is also switched off.
    void trustAllHooks(const std::string& disabled = "") const {
        const std::string requests =
            R"({"id":1,"method":"initialize","params":{"clientInfo":{"name":"t","version":"1"},)"
            R"("capabilities":{"experimentalApi":true}}})"
            "\n"
            R"({"method":"initialized"})"
            "\n"
            R"({"id":2,"method":"hooks/list","params":{"cwds":[")" +
            home.path() + "\"]}}\n";
        const std::string pipeline = "(printf '%s' " + shellQuote(requests) + "; sleep 2) | " +
                                     shellQuote(codexBin_ + "/codex") +
                                     " app-server --listen stdio:// 2>/dev/null";
        FILE* codex = ::popen(pipeline.c_str(), "r");
        ASSERT_NE(codex, nullptr);
        std::string output;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, codex)) > 0;) {
            output.append(buffer, got);
        }
        ::pclose(codex);
        std::string config;
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            const auto message = nlohmann::json::parse(line, nullptr, false);
            if (!message.is_object() || message.value("id", 0) != 2) {
                continue;
            }
            for (const auto& hook : message["result"]["data"][0]["hooks"]) {
                config += "[hooks.state." + nlohmann::json(hook["key"]).dump() + "]\n";
                config += "trusted_hash = " + hook["currentHash"].dump() + "\n";
                if (hook["eventName"] == disabled) {
                    config += "enabled = false\n";
                }
            }
        }
        ASSERT_FALSE(config.empty()) << output;
        testing::writeText(home / ".codex/config.toml", config);
    }

    TempFolder home;
    const std::string exe = "/opt/Vesperon/bin/vesperon";
    std::string codexBin_;
    std::string savedHome_;
};

TEST_F(CodexIntegrationTest, FreshlyInstalledHooksNeedReviewInCodex) {
    EXPECT_EQ(check(), CodexHookTrust::unavailable("Some Vesperon hooks are missing from Codex. "
                                                   "Reconnect Codex and restart it."));
    const AgentConnectionSetup setup(exe, home.path());
    ASSERT_TRUE(setup.install("codex"));
    EXPECT_EQ(check(), CodexHookTrust::needsReview());
    EXPECT_EQ(processesWithHome(home.path()), 0);
}

TEST_F(CodexIntegrationTest, ReviewedHooksAreTrustedUnlessOneIsSwitchedOff) {
    const AgentConnectionSetup setup(exe, home.path());
    ASSERT_TRUE(setup.install("codex"));
    trustAllHooks();
    EXPECT_EQ(check(), CodexHookTrust::trusted());
    trustAllHooks("stop");
    EXPECT_EQ(check(), CodexHookTrust::unavailable("Codex hooks are disabled or their trust "
                                                   "status is unknown. Review them in Codex."));
    EXPECT_EQ(processesWithHome(home.path()), 0);
}

} // namespace
} // namespace vesperon
