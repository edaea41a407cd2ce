#include "StandInRootTools.hpp"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace vesperon::testing {
namespace {

// pmset: "-g" prints the settings as macOS does; "-a disablesleep N" switches, unless
// machine/ignore-switch makes the next such call only claim success. machine/fail-power
// counts calls to fail. machine/record-at-pmset, created empty, notes at the first call
// whether the session record and the job were there.
constexpr const char* pmsetScript = R"SH(
echo "$*" >>"$m/pmset.log"
if [ -e "$m/record-at-pmset" ] && [ ! -s "$m/record-at-pmset" ]; then
    [ -e "$m/../Library/Application Support/LocalVesperon/session.json" ] && r=present || r=absent
    [ -e "$m/job-loaded" ] && j=loaded || j=unloaded
    echo "$r $j" >"$m/record-at-pmset"
fi
n=$(cat "$m/fail-power" 2>/dev/null || echo 0)
[ "$n" -gt 0 ] && { echo $((n - 1)) >"$m/fail-power"; exit 1; }
case "$1" in
-g) printf 'System-wide power settings:\n SleepDisabled\t\t%s\n' "$(cat "$m/sleep-disabled")" ;;
-a) rm "$m/ignore-switch" 2>/dev/null || echo "$3" >"$m/sleep-disabled" ;;
esac
)SH";

// launchctl: bootstrap marks the job loaded (or fails as told), bootout unloads it,
// print answers 113 for a job that is not loaded.
constexpr const char* launchctlScript = R"SH(
echo "$*" >>"$m/launchctl.log"
case "$1" in
bootstrap)
    if [ -e "$m/bootstrap-failure" ]; then
        cat "$m/bootstrap-failure"
        exit 5
    fi
    : >"$m/job-loaded" ;;
bootout)
    [ -e "$m/job-loaded" ] || exit 3
    [ -e "$m/job-sticky" ] && exit 125
    rm -f "$m/job-loaded" ;;
print)
    [ -e "$m/job-loaded" ] && exit 0
    echo "Could not find service" >&2
    exit 113 ;;
esac
)SH";

} // namespace

void StandInRootTools::reset() {
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
        std::filesystem::remove_all(entry.path());
    }
    for (const char* folder : {"/Library/Application Support", "/Library/LaunchDaemons", "/var/run",
                               "/usr/bin", "/bin", "/machine"}) {
        std::filesystem::create_directories(root_ + folder);
    }
    const SystemLayout layout = this->layout();
    for (const auto& [path, script] : {std::pair{layout.pmsetPath, pmsetScript},
                                       std::pair{layout.launchctlPath, launchctlScript}}) {
        writeFile(path, "#!/bin/sh\nm='" + layout.machineDir() + "'" + script + "exit 0\n", 0755);
    }
    setOverride(false);
    put("lid", "false");
    put("thermal", "0");
    put("boot-id", "6B1D2E0C-7A55-4C1F");
    put("clock-offset", "0");
    setBattery(80, false);
}

ProcessOutcome StandInRootTools::vesperon(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{VESPERON_EXECUTABLE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {"VESPERON_SANDBOX=" + root_});
}

void StandInRootTools::put(const std::string& name, const std::string& text) const {
    writeFile(file(name), text);
}

std::string StandInRootTools::read(const std::string& name) const {
    std::string text = readFile(file(name));
    while (text.ends_with('\n')) {
        text.pop_back();
    }
    return text;
}

void StandInRootTools::setBattery(int current, bool onAC) const {
    put("power-sources.json", std::string(R"([{"Type":"InternalBattery","Power Source State":")") +
                                  (onAC ? "AC Power" : "Battery Power") +
                                  R"(","Current Capacity":)" + std::to_string(current) +
                                  R"(,"Max Capacity":100}])");
}

double StandInRootTools::clock() const {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 +
           std::atof(read("clock-offset").c_str());
}

void StandInRootTools::addSleep(double seconds) const {
    put("clock-offset", std::to_string(std::atof(read("clock-offset").c_str()) + seconds));
}

std::vector<std::string> StandInRootTools::lines(const std::string& name) const {
    std::vector<std::string> result;
    std::istringstream text(readFile(file(name)));
    for (std::string line; std::getline(text, line);) {
        result.push_back(line);
    }
    return result;
}

void StandInRootTools::installSession(const Session& session) const {
    const SystemLayout layout = this->layout();
    ::mkdir(layout.rootDir.c_str(), 0700);
    writeFile(layout.watcherPath(), "#!/bin/sh\nexit 0\n");
    if (!saveSession(session, layout.sessionRecordPath())) {
        throw std::runtime_error("could not save the session record");
    }
    writeFile(layout.jobPath, "<plist/>");
}

StandInRootTools& processMachine() {
    // The layout is fixed at its first use, so the machine is named before then.
    static StandInRootTools machine;
    static const bool named = ::setenv("VESPERON_SANDBOX", machine.root().c_str(), 1) == 0;
    (void)named;
    return machine;
}

Session healthySession(const StandInRootTools& machine, const std::string& folder) {
    Session session;
    session.pid = static_cast<std::int32_t>(::getpid());
    session.deadline = 2e9;
    session.heartbeat = folder + "/heartbeat";
    session.stop = folder + "/stop";
    writeFile(session.heartbeat, "");
    session.timing = SessionTiming{1, machine.read("boot-id"), machine.clock() - 1, 3600};
    return session;
}

} // namespace vesperon::testing
