// Hook payloads and event files are written by other programs. The first byte picks
// what the rest of the input is:
//   even: a hook payload for one of the providers, given to normalize and emit
//         against an armed run (what a published event holds is then checked);
//   odd:  the content of an event file in the run folder, consumed by a poll.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agents/AgentEventBridge.hpp"
#include "agents/AgentEventFiles.hpp"
#include "agents/AgentTrackingRun.hpp"
#include "common/UntrustedJson.hpp"
#include "common/Uuid.hpp"

namespace {

using vesperon::AgentEventBridge;
using vesperon::AgentEventFiles;
using vesperon::AgentTrackingRun;

struct Armed {
    std::string base;
    std::string root;
    std::optional<AgentTrackingRun> run;

    Armed() {
        // libFuzzer may end the process without running destructors: folders of
        // earlier runs whose process is gone are removed here instead.
        const auto temporary = std::filesystem::temp_directory_path();
        constexpr std::string_view prefix = "vesperon-fuzz-agents-";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(temporary, error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(prefix)) {
                const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
                if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                    std::filesystem::remove_all(entry.path(), error);
                }
            }
        }
        base = (temporary / (std::string(prefix) + std::to_string(getpid()))).string();
        std::filesystem::remove_all(base, error);
        if (mkdir(base.c_str(), 0700) != 0) {
            std::abort();
        }
        root = base + "/events";
        run.emplace(root, nullptr, 0.0);
        if (!run->arm()) {
            std::abort();
        }
    }
    ~Armed() {
        run.reset();
        std::error_code ignored;
        std::filesystem::remove_all(base, ignored);
    }
    std::string runFolder() const { return root + "/" + *run->runID(); }
};

Armed& armed() {
    static Armed instance;
    return instance;
}

void checkPublished(const Armed& state, std::string_view provider) {
    int published = 0;
    for (const auto& entry : std::filesystem::directory_iterator(state.runFolder())) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 41 || name.substr(36) != ".json") {
            std::abort(); // a temporary file was left behind
        }
        const auto event = vesperon::parseUntrustedJson(
            std::string((std::istreambuf_iterator<char>(std::ifstream(entry.path()).rdbuf())), {}));
        if (!event || event->size() != 5 || (*event)["provider"] != provider ||
            !AgentEventFiles::validSessionID((*event)["sessionID"].get<std::string>()) ||
            !AgentEventFiles::knownState((*event)["state"].get<std::string>())) {
            std::abort();
        }
        std::filesystem::remove(entry.path());
        ++published;
    }
    if (published > 1) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::string_view providers[] = {"claude", "codex", "opencode", "terminal"};
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    Armed& state = armed();

    if (data[0] % 2 == 0) {
        const std::string_view provider = providers[(data[0] / 2) % 4];
        if (const auto payload =
                vesperon::parseUntrustedJson(rest, AgentEventFiles::payloadDepthLimit)) {
            if (const auto result = AgentEventBridge::normalize(provider, *payload)) {
                if (!AgentEventFiles::validSessionID(result->sessionID) ||
                    !AgentEventFiles::knownState(result->state)) {
                    std::abort();
                }
            }
        }
        const bool emitted = AgentEventBridge::emit(provider, rest, state.root);
        checkPublished(state, provider);
        (void)emitted;
        return 0;
    }

    std::ofstream(state.runFolder() + "/" + vesperon::newUuidText() + ".json", std::ios::binary)
        << rest;
    std::filesystem::permissions(state.runFolder(), std::filesystem::perms::owner_all);
    for (const auto& entry : std::filesystem::directory_iterator(state.runFolder())) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_write);
    }
    const vesperon::AgentTrackingSnapshot snapshot = state.run->poll();
    if (snapshot.trackedCount > 256 ||
        snapshot.busyCount + snapshot.waitingCount > snapshot.trackedCount) {
        std::abort();
    }
    if (!std::filesystem::is_empty(state.runFolder())) {
        std::abort(); // every event file is consumed or removed
    }
    // An integrity failure is permanent for a run: start a fresh one now and then.
    if (state.run->integrityFailure() && !state.run->arm()) {
        std::abort();
    }
    return 0;
}
