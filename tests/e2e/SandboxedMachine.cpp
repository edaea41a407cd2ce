#include "SandboxedMachine.hpp"

#include <chrono>
#include <exception>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace vesperon::e2e {
namespace {

std::vector<std::string> sandboxEnvironment() {
    return {"VESPERON_TOOLS=" VESPERON_TOOLS_DIR};
}

} // namespace

SandboxedMachine::SandboxedMachine() {
    if (::geteuid() != 0) {
        failure_ = "the end-to-end tests run as root, as the privileged side does";
        return;
    }
    try {
        folder_.emplace("vesperon-e2e", "/tmp");
    } catch (const std::exception& error) {
        failure_ = error.what();
        return;
    }
    root_ = folder_->path();
    const ProcessOutcome created =
        runProcess({VESPERON_SANDBOX_SCRIPT, "create", root_}, sandboxEnvironment(), 30);
    if (created.status != 0) {
        failure_ = "scripts/sandbox create failed: " + created.err;
    }
}

SandboxedMachine::~SandboxedMachine() {
    if (root_.empty()) {
        return;
    }
    // A sanitizer report from a job or from the service manager fails the test.
    for (const char* log : {"jobs.log", "launchd.log"}) {
        const std::string text = readFile(machineFile(log));
        if (text.find("Sanitizer") != std::string::npos ||
            text.find("runtime error") != std::string::npos) {
            ADD_FAILURE() << "sanitizer report in " << log << ":\n" << text;
        }
    }
    // What the sandbox leaves behind goes with the folder.
    sandbox({"destroy"});
}

ProcessOutcome SandboxedMachine::sandbox(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{VESPERON_SANDBOX_SCRIPT, root_};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, sandboxEnvironment(), 30);
}

std::map<std::string, std::string> SandboxedMachine::state() const {
    std::map<std::string, std::string> values;
    std::istringstream lines(sandbox({"state"}).out);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            values[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }
    return values;
}

bool SandboxedMachine::restored() const {
    auto values = state();
    return values["override"] == "off" && values["job"] == "absent" &&
           values["job-file"] == "absent" && values["root-state"] == "absent";
}

long long SandboxedMachine::powerCalls() const {
    return std::atoll(readFile(machineFile("power-calls")).c_str());
}

ProcessOutcome SandboxedMachine::vesperon(const std::vector<std::string>& args,
                                          double timeoutSeconds) const {
    std::vector<std::string> argv{VESPERON_EXECUTABLE};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {"VESPERON_SANDBOX=" + root_}, timeoutSeconds);
}

ProcessOutcome SandboxedMachine::tool(const std::string& installedPath,
                                      const std::vector<std::string>& args,
                                      double timeoutSeconds) const {
    std::vector<std::string> argv{root_ + installedPath};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {}, timeoutSeconds);
}

std::string SandboxedMachine::rootDir() const {
    return root_ + "/Library/Application Support/LocalVesperon";
}
std::string SandboxedMachine::recordPath() const {
    return rootDir() + "/session.json";
}
std::string SandboxedMachine::jobPath() const {
    return root_ + "/Library/LaunchDaemons/local.vesperon.session.plist";
}
std::string SandboxedMachine::machineFile(const std::string& name) const {
    return root_ + "/machine/" + name;
}
std::string SandboxedMachine::jobsLog() const {
    return readFile(machineFile("jobs.log"));
}

std::vector<JobStart> SandboxedMachine::jobStarts() const {
    std::vector<JobStart> starts;
    std::istringstream lines(readFile(machineFile("job-starts.log")));
    JobStart start;
    while (lines >> start.wallSeconds >> start.label >> start.pid) {
        starts.push_back(start);
    }
    return starts;
}

FakeApp::FakeApp(const SandboxedMachine& machine, bool renewing, const std::string& folderName) {
    const std::string folder = machine.root() + "/tmp/" + folderName;
    ::mkdir((machine.root() + "/tmp").c_str(), 0755);
    ::mkdir(folder.c_str(), 0700);
    heartbeat_ = folder + "/heartbeat";
    stop_ = folder + "/stop";
    writeFile(heartbeat_, "");
    if (renewing) {
        process_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
            "/bin/sh", "-c", "while :; do touch \"$0\"; sleep 1; done", heartbeat_});
    } else {
        process_ =
            std::make_unique<BackgroundProcess>(std::vector<std::string>{"/bin/sleep", "3600"});
    }
}

void FakeApp::touchHeartbeat() const {
    ::utime(heartbeat_.c_str(), nullptr);
}

void FakeApp::createStopFile() const {
    writeFile(stop_, "");
}

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const double deadline = steadySeconds() + seconds;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (steadySeconds() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace vesperon::e2e
