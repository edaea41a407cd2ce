#include "FakeMachine.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

namespace vesperon::test {
namespace {

// pmset: "-g" prints the settings as macOS does; "-a disablesleep N" switches;
// "displaysleepnow" does nothing visible. machine/fail-power counts calls to fail.
constexpr const char* pmsetScript = R"SH(#!/bin/sh
m='@MACHINE@'
echo "$*" >>"$m/pmset.log"
if [ -e "$m/record-at-pmset" ] && [ ! -s "$m/record-at-pmset" ]; then
    [ -e "$m/../Library/Application Support/LocalVesperon/session.json" ] && r=present || r=absent
    echo $r >"$m/record-at-pmset"
    [ -e "$m/job-loaded" ] && j=loaded || j=unloaded
    echo $j >"$m/job-at-first-pmset"
fi
if [ -e "$m/describe-caller" ]; then
    {
        ls /proc/$PPID/fd
        grep -E '^(Umask|Max core file size)' /proc/$PPID/status /proc/$PPID/limits
    } >"$m/caller.txt" 2>&1
fi
n=$(cat "$m/fail-power" 2>/dev/null || echo 0)
if [ "$n" -gt 0 ]; then
    echo $((n - 1)) >"$m/fail-power"
    echo "pmset: simulated failure" >&2
    exit 1
fi
case "$1" in
-g)
    printf 'System-wide power settings:\n SleepDisabled\t\t%s\nCurrently in use:\n standby              1\n' "$(cat "$m/sleep-disabled")"
    ;;
-a)
    [ "$2" = disablesleep ] || exit 1
    i=$(cat "$m/ignore-switch" 2>/dev/null || echo 0)
    if [ "$i" -gt 0 ]; then
        echo $((i - 1)) >"$m/ignore-switch"
        exit 0
    fi
    echo "$3" >"$m/sleep-disabled"
    ;;
displaysleepnow) ;;
*) exit 1 ;;
esac
exit 0
)SH";

// launchctl: bootstrap marks the job loaded (or fails as told), bootout unloads it,
// print answers 113 for a job that is not loaded.
constexpr const char* launchctlScript = R"SH(#!/bin/sh
m='@MACHINE@'
echo "$*" >>"$m/launchctl.log"
case "$1" in
bootstrap)
    if [ -e "$m/bootstrap-failure" ]; then
        [ -e "$m/job-sticky" ] && : >"$m/job-loaded"
        cat "$m/bootstrap-failure"
        exit 5
    fi
    if [ -e "$m/job-loaded" ]; then
        echo "Bootstrap failed: 5: Input/output error"
        exit 5
    fi
    : >"$m/job-loaded"
    ;;
bootout)
    if [ ! -e "$m/job-loaded" ]; then
        echo "Boot-out failed: 3: No such process" >&2
        exit 3
    fi
    if [ -e "$m/job-sticky" ]; then
        echo "Boot-out failed: 125: Domain does not support specified action" >&2
        exit 125
    fi
    rm -f "$m/job-loaded"
    ;;
print)
    if [ -e "$m/job-loaded" ]; then
        echo "system/local.vesperon.session = {"
        exit 0
    fi
    echo "Could not find service \"local.vesperon.session\" in domain for system" >&2
    exit 113
    ;;
*) exit 64 ;;
esac
exit 0
)SH";

std::string withMachine(const char* script, const std::string& machine) {
    std::string text(script);
    const std::string marker = "@MACHINE@";
    text.replace(text.find(marker), marker.size(), machine);
    return text;
}

} // namespace

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file) {
        throw std::runtime_error("could not write " + path);
    }
}

FakeMachine::FakeMachine() {
    reset();
}

void FakeMachine::reset() {
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
        std::filesystem::remove_all(entry.path());
    }
    for (const char* folder : {"/Library/Application Support", "/Library/LaunchDaemons", "/var/run",
                               "/usr/bin", "/bin", "/machine"}) {
        std::filesystem::create_directories(root_ + folder);
    }
    writeTools();
    setOverride(false);
    setBattery(80, 100, false);
    setLid(false);
    setThermal(0);
    setBootID("6B1D2E0C-7A55-4C1F-9D7E-2F4B9C0A1E33");
    put("clock-offset", "0");
}

void FakeMachine::writeTools() const {
    const SystemLayout layout = this->layout();
    const std::string machine = layout.machineDir();
    writeFile(layout.pmsetPath, withMachine(pmsetScript, machine));
    writeFile(layout.launchctlPath, withMachine(launchctlScript, machine));
    ::chmod(layout.pmsetPath.c_str(), 0755);
    ::chmod(layout.launchctlPath.c_str(), 0755);
}

void FakeMachine::put(const std::string& name, const std::string& text) const {
    writeFile(layout().machineDir() + "/" + name, text);
}

std::string FakeMachine::read(const std::string& name) const {
    std::string text = readFile(layout().machineDir() + "/" + name);
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

void FakeMachine::remove(const std::string& name) const {
    ::unlink((layout().machineDir() + "/" + name).c_str());
}

void FakeMachine::setBattery(int current, int maximum, bool onAC) const {
    put("power-sources.json", std::string(R"([{"Type":"InternalBattery","Power Source State":")") +
                                  (onAC ? "AC Power" : "Battery Power") +
                                  R"(","Current Capacity":)" + std::to_string(current) +
                                  R"(,"Max Capacity":)" + std::to_string(maximum) + "}]");
}

double FakeMachine::clock() const {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 +
           std::atof(read("clock-offset").c_str());
}

void FakeMachine::addSleep(double seconds) const {
    const double offset = std::atof(read("clock-offset").c_str());
    std::ostringstream text;
    text.precision(17);
    text << offset + seconds;
    put("clock-offset", text.str());
}

void FakeMachine::setJobLoaded(bool loaded) const {
    if (loaded) {
        put("job-loaded", "");
    } else {
        remove("job-loaded");
    }
}

bool FakeMachine::jobLoaded() const {
    struct stat info {};
    return ::stat((layout().machineDir() + "/job-loaded").c_str(), &info) == 0;
}

std::vector<std::string> FakeMachine::lines(const std::string& name) const {
    std::vector<std::string> result;
    std::istringstream text(readFile(layout().machineDir() + "/" + name));
    for (std::string line; std::getline(text, line);) {
        result.push_back(line);
    }
    return result;
}

void FakeMachine::installSession(const Session& session) const {
    const SystemLayout layout = this->layout();
    ::mkdir(layout.rootDir.c_str(), 0700);
    writeFile(layout.watcherPath(), "#!/bin/sh\nexit 0\n");
    if (!saveSession(session, layout.sessionRecordPath())) {
        throw std::runtime_error("could not save the session record");
    }
    writeFile(layout.jobPath, "<plist/>");
}

bool FakeMachine::rootStatePresent() const {
    struct stat info {};
    return ::lstat(layout().rootDir.c_str(), &info) == 0;
}

bool FakeMachine::jobFilePresent() const {
    struct stat info {};
    return ::lstat(layout().jobPath.c_str(), &info) == 0;
}

Session healthySession(const FakeMachine& machine, const std::string& folder) {
    Session session;
    session.pid = static_cast<std::int32_t>(::getpid());
    session.deadline = 2e9;
    session.heartbeat = folder + "/heartbeat";
    session.stop = folder + "/stop";
    session.previous = false;
    writeFile(session.heartbeat, "");
    session.timing = SessionTiming{1, machine.read("boot-id"), machine.clock() - 1, 3600};
    return session;
}

} // namespace vesperon::test
