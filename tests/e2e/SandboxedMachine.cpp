#include "SandboxedMachine.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vesperon::e2e {
namespace {
const std::vector<std::string> sandboxEnvironment{"VESPERON_TOOLS=" VESPERON_TOOLS_DIR};
}

SandboxedMachine::SandboxedMachine() {
    if (::geteuid() != 0) {
        failure_ = "the end-to-end tests run as root, as the privileged side does";
        return;
    }
    folder_.emplace("vesperon-e2e", "/tmp");
    root_ = folder_->path();
    const ProcessOutcome created =
        runProcess({VESPERON_SANDBOX_SCRIPT, "create", root_}, sandboxEnvironment, 30);
    if (created.status != 0) {
        failure_ = "scripts/sandbox create failed: " + created.err;
    }
}

SandboxedMachine::~SandboxedMachine() {
    if (root_.empty()) {
        return;
    }
    for (const char* log : {"jobs.log", "launchd.log"}) {
        const std::string text = readFile(machineFile(log));
        if (text.find("Sanitizer") != std::string::npos ||
            text.find("runtime error") != std::string::npos) {
            ADD_FAILURE() << "sanitizer report in " << log << ":\n" << text;
        }
    }
    sandbox({"destroy"});
}

ProcessOutcome SandboxedMachine::sandbox(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{VESPERON_SANDBOX_SCRIPT, root_};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, sandboxEnvironment, 30);
}

std::map<std::string, std::string> SandboxedMachine::state() const {
    std::map<std::string, std::string> values;
    std::istringstream lines(sandbox({"state"}).out);
    for (std::string line; std::getline(lines, line);) {
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

ProcessOutcome SandboxedMachine::vesperon(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{VESPERON_EXECUTABLE};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {"VESPERON_SANDBOX=" + root_});
}

FakeApp::FakeApp(const SandboxedMachine& machine) {
    const std::string folder = machine.root() + "/tmp/Vesperon-session";
    ::mkdir((machine.root() + "/tmp").c_str(), 0755);
    ::mkdir(folder.c_str(), 0700);
    heartbeat_ = folder + "/heartbeat";
    stop_ = folder + "/stop";
    writeFile(heartbeat_, "");
    process_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "/bin/sh", "-c", "while :; do touch \"$0\"; sleep 1; done", heartbeat_});
}

} // namespace vesperon::e2e
