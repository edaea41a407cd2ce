// Hook payloads and event files are written by other programs. The first byte picks
// what the rest of the input is: even, a hook payload for one of the providers, given
// to normalize and emit against an armed run; odd, an event file consumed by a poll.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <signal.h>
#include <unistd.h>

#include "agents/AgentEventBridge.hpp"
#include "agents/AgentEventFiles.hpp"
#include "agents/AgentTrackingRun.hpp"
#include "common/UntrustedJson.hpp"
#include "common/Uuid.hpp"

namespace {

using namespace vesperon;
namespace fs = std::filesystem;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// An armed run in a folder of this process's own. libFuzzer may end the process
// without running destructors: folders of earlier runs whose process is gone go first.
struct Armed {
    static constexpr std::string_view prefix = "vesperon-fuzz-agents-";
    std::string base = fs::temp_directory_path() / (std::string(prefix) + std::to_string(getpid()));
    std::string root = base + "/events";
    std::optional<AgentTrackingRun> run;

    Armed() {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), error)) {
            const std::string name = entry.path().filename();
            const long pid = name.starts_with(prefix) ? std::atol(name.c_str() + prefix.size()) : 0;
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                fs::remove_all(entry.path(), error);
            }
        }
        fs::create_directory(base, error);
        require(!error && run.emplace(root, nullptr, 0.0).arm().has_value());
    }
    ~Armed() {
        run.reset();
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
    std::string folder() const { return root + "/" + *run->runID(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::string_view providers[] = {"claude", "codex", "opencode", "terminal"};
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    static Armed state;

    if (data[0] % 2 == 0) {
        // What is published is one whole event file of five known fields (no temporary
        // file left behind), whatever the payload.
        const std::string_view provider = providers[(data[0] / 2) % 4];
        (void)AgentEventBridge::emit(provider, rest, state.root);
        int published = 0;
        for (const auto& entry : fs::directory_iterator(state.folder())) {
            const std::string name = entry.path().filename();
            std::ifstream in(entry.path());
            const auto event =
                parseUntrustedJson(std::string(std::istreambuf_iterator<char>(in), {}));
            require(name.size() == 41 && name.ends_with(".json") && event && event->size() == 5 &&
                    (*event)["provider"] == provider &&
                    AgentEventFiles::validSessionID((*event)["sessionID"].get<std::string>()) &&
                    AgentEventFiles::knownState((*event)["state"].get<std::string>()));
            fs::remove(entry.path());
            ++published;
        }
        require(published <= 1);
        return 0;
    }

    // Written as the bridge writes them, so that the poll reads them rather than refusing.
    const std::string file = state.folder() + "/" + newUuidText() + ".json";
    std::ofstream(file, std::ios::binary) << rest;
    fs::permissions(state.folder(), fs::perms::owner_all);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    const AgentTrackingSnapshot snapshot = state.run->poll();
    require(snapshot.trackedCount <= 256 &&
            snapshot.busyCount + snapshot.waitingCount <= snapshot.trackedCount);
    require(fs::is_empty(state.folder())); // every event file is consumed or removed
    // An integrity failure is permanent for a run: start a fresh one.
    require(!state.run->integrityFailure() || state.run->arm().has_value());
    return 0;
}
