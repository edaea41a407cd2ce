// The sandboxed machine's stand-ins keep the contracts of the real tools that the
// root side relies on: the power tool, the administrator prompt, the service manager.
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "SandboxedMachine.hpp"
#include "common/Quoting.hpp"

namespace vesperon::e2e {
namespace {

std::string jobFileText(const std::string& label, const std::vector<std::string>& arguments,
                        bool keepAlive, int throttle) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                       "<dict>\n<key>Label</key><string>" +
                       label + "</string>\n<key>ProgramArguments</key><array>";
    for (const std::string& argument : arguments) {
        text += "<string>" + argument + "</string>";
    }
    text += "</array>\n<key>RunAtLoad</key><true/>\n<key>KeepAlive</key>";
    text += keepAlive ? "<true/>" : "<false/>";
    text += "\n<key>ThrottleInterval</key><integer>" + std::to_string(throttle) +
            "</integer>\n</dict>\n</plist>\n";
    return text;
}

std::string installJob(const SandboxedMachine& machine, const std::string& label,
                       const std::vector<std::string>& arguments, bool keepAlive = true,
                       int throttle = 5) {
    const std::string path = machine.root() + "/Library/LaunchDaemons/" + label + ".plist";
    writeFile(path, jobFileText(label, arguments, keepAlive, throttle));
    ::chmod(path.c_str(), 0644);
    return path;
}

int jobPid(const SandboxedMachine& machine, const std::string& label) {
    const ProcessOutcome printed = machine.tool("/bin/launchctl", {"print", "system/" + label});
    const std::size_t at = printed.out.find("pid = ");
    return at == std::string::npos ? 0 : std::stoi(printed.out.substr(at + 6));
}

std::string supervisorPid(const SandboxedMachine& machine) {
    std::string pid = readFile(machine.machineFile("launchd.pid"));
    while (!pid.empty() && pid.back() == '\n') {
        pid.pop_back();
    }
    return pid;
}

// Whether a process runs (a zombie whose parent has not collected it does not).
bool processRuns(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
        return false;
    }
    return line.substr(line.rfind(')') + 2, 1) != "Z";
}

// Children of `pid` that have exited but were never waited for.
int zombieChildren(const std::string& pid) {
    int zombies = 0;
    DIR* proc = ::opendir("/proc");
    while (const dirent* entry = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string state, parent;
        rest >> state >> parent;
        zombies += (state == "Z" && parent == pid) ? 1 : 0;
    }
    ::closedir(proc);
    return zombies;
}

class SandboxTools : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(machine.failure(), ""); }
    SandboxedMachine machine;
};

// --- scripts/sandbox ------------------------------------------------------------------

TEST_F(SandboxTools, FreshMachineStateIsExactlySevenLines) {
    const ProcessOutcome state = machine.sandbox({"state"});
    EXPECT_EQ(state.status, 0);
    EXPECT_EQ(state.out, "override: off\njob: absent\njob-file: absent\nroot-state: absent\n"
                         "watcher-pid: none\npower-calls: 0\ndisplay-sleeps: 0\n");
}

TEST_F(SandboxTools, DestroyStopsTheServiceManagerAndItsJobsAndRemovesTheFolder) {
    installJob(machine, "local.test.sleeper", {"/bin/sleep", "600"});
    ASSERT_EQ(machine
                  .tool("/bin/launchctl",
                        {"bootstrap", "system",
                         machine.root() + "/Library/LaunchDaemons/local.test.sleeper.plist"})
                  .status,
              0);
    const int job = jobPid(machine, "local.test.sleeper");
    ASSERT_GT(job, 0);
    const int manager = std::stoi(supervisorPid(machine));
    ASSERT_EQ(machine.sandbox({"destroy"}).status, 0);
    EXPECT_FALSE(pathExists(machine.root()));
    EXPECT_FALSE(processRuns(manager));
    EXPECT_TRUE(waitUntil([&] { return !processRuns(job); }, 5));
}

// --- the power tool --------------------------------------------------------------------

TEST_F(SandboxTools, PowerToolRefusesBadUsageWithoutActing) {
    for (const auto& bad : std::vector<std::vector<std::string>>{{},
                                                                 {"-a", "disablesleep", "2"},
                                                                 {"-a", "disablesleep"},
                                                                 {"disablesleep", "1"},
                                                                 {"-g", "extra"},
                                                                 {"-b", "disablesleep", "1"}}) {
        const ProcessOutcome refused = machine.tool("/usr/bin/pmset", bad);
        EXPECT_NE(refused.status, 0);
        EXPECT_NE(refused.err.find("Usage"), std::string::npos);
    }
    EXPECT_EQ(machine.state()["override"], "off");
    EXPECT_EQ(machine.powerCalls(), 6);
}

TEST_F(SandboxTools, ConcurrentPowerCallsAreAllCounted) {
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) {
        callers.emplace_back([&] {
            for (int j = 0; j < 5; ++j) {
                machine.tool("/usr/bin/pmset", {"displaysleepnow"});
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(machine.powerCalls(), 40);
    EXPECT_EQ(machine.state()["display-sleeps"], "40");
}

// --- the administrator prompt --------------------------------------------------------

std::string adminScript(const std::vector<std::string>& words) {
    std::string command;
    for (const std::string& word : words) {
        command += (command.empty() ? "" : " ") + shellQuote(word);
    }
    return "do shell script " + appleQuote(command) + " with administrator privileges";
}

TEST_F(SandboxTools, AdminPromptPassesAnAwkwardArgumentThroughBothQuotingLayers) {
    const std::string helper = machine.root() + "/record-args";
    const std::string out = machine.root() + "/args.out";
    writeFile(helper, "#!/bin/sh\nprintf '%s\\0' \"$#\" \"$@\" > '" + out + "'\n");
    ::chmod(helper.c_str(), 0755);
    const std::string awkward = "it's \"quoted\" \\ back\\\\slash\nnew line\t$HOME `id`";
    const ProcessOutcome ran =
        machine.tool("/usr/bin/osascript", {"-e", adminScript({helper, awkward, ""})});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(readFile(out), std::string("2\0", 2) + awkward + '\0' + '\0');
}

TEST_F(SandboxTools, AdminPromptReportsTheCommandsOutputAndStatus) {
    ProcessOutcome ran = machine.tool(
        "/usr/bin/osascript", {"-e", adminScript({"/bin/sh", "-c", "echo READY; echo warn >&2"})});
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.out + ran.err, "READY\nwarn\n");

    ran =
        machine.tool("/usr/bin/osascript",
                     {"-e", adminScript({"/bin/sh", "-c", "echo 'Setup failed: x' >&2; exit 3"})});
    EXPECT_NE(ran.status, 0);
    EXPECT_NE((ran.out + ran.err).find("execution error: Setup failed: x (3)"), std::string::npos)
        << ran.err;

    ran = machine.tool("/usr/bin/osascript", {"-e", adminScript({"/bin/true"})});
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.out + ran.err, "");
}

TEST_F(SandboxTools, CancelledPromptRunsNothing) {
    const std::string marker = machine.root() + "/ran";
    ASSERT_EQ(machine.sandbox({"prompt", "cancel"}).status, 0);
    ProcessOutcome ran =
        machine.tool("/usr/bin/osascript", {"-e", adminScript({"/usr/bin/touch", marker})});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("execution error: User canceled. (-128)"), std::string::npos);
    EXPECT_FALSE(pathExists(marker));

    ASSERT_EQ(machine.sandbox({"prompt", "grant"}).status, 0);
    ran = machine.tool("/usr/bin/osascript", {"-e", adminScript({"/usr/bin/touch", marker})});
    EXPECT_EQ(ran.status, 0);
    EXPECT_TRUE(pathExists(marker));
}

TEST_F(SandboxTools, MalformedAdminScriptsRunNothing) {
    const std::string marker = machine.root() + "/ran";
    const std::string command = "touch " + marker;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-e", "do shell script \"" + command + "\""},
             {"-e", "do shell script \"" + command + "\" with administrator privileges extra"},
             {"-e", "do shell script \"" + command + " with administrator privileges"},
             {"-e", "do shell script \"" + command + "\\q\" with administrator privileges"},
             {"-e", "display dialog \"" + command + "\""},
             {"-e", "do shell script " + command + " with administrator privileges"},
             {"do shell script \"" + command + "\" with administrator privileges"},
             {"-e", "do shell script \"" + command + "\" with administrator privileges", "-e",
              "x"}}) {
        const ProcessOutcome ran = machine.tool("/usr/bin/osascript", args);
        EXPECT_NE(ran.status, 0) << args.back();
        EXPECT_FALSE(ran.err.empty()) << args.back();
    }
    EXPECT_FALSE(pathExists(marker));
}

// --- the service manager ----------------------------------------------------------------

TEST_F(SandboxTools, ServiceToolRefusesBadJobFiles) {
    const std::string folder = machine.root() + "/Library/LaunchDaemons/";
    std::vector<std::pair<std::string, std::string>> bad = {
        {"garbage", "\x01\x02 not a plist"},
        {"array", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>"},
        {"no-label", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>ProgramArguments"
                     "</key><array><string>/bin/true</string></array></dict></plist>"},
        {"no-program", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key>"
                       "<string>x</string></dict></plist>"},
        {"bad-keepalive",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>x</string>"
         "<key>ProgramArguments</key><array><string>/bin/true</string></array>"
         "<key>KeepAlive</key><string>yes</string></dict></plist>"}};
    // A NUL byte inside a string must be refused, not crash the service manager.
    std::string nulInString = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label"
                              "</key><string>x</string><key>ProgramArguments</key><array>"
                              "<string>/bin/tr";
    nulInString += '\0';
    nulInString += "ue</string></array></dict></plist>";
    bad.emplace_back("nul-in-string", nulInString);
    for (const auto& [name, text] : bad) {
        writeFile(folder + name + ".plist", text);
        ::chmod((folder + name + ".plist").c_str(), 0644);
        const ProcessOutcome refused =
            machine.tool("/bin/launchctl", {"bootstrap", "system", folder + name + ".plist"});
        EXPECT_NE(refused.status, 0) << name;
        EXPECT_NE(refused.err.find("Bootstrap failed"), std::string::npos) << name;
    }
    EXPECT_NE(
        machine.tool("/bin/launchctl", {"bootstrap", "system", folder + "missing.plist"}).status,
        0);
    const std::string writable = installJob(machine, "local.test.writable", {"/bin/true"});
    ::chmod(writable.c_str(), 0666);
    EXPECT_NE(machine.tool("/bin/launchctl", {"bootstrap", "system", writable}).status, 0);
    EXPECT_NE(machine.tool("/bin/launchctl", {"kickstart", "system/x"}).status, 0);
    // The service manager survived all of it.
    EXPECT_EQ(machine.tool("/bin/launchctl", {"print", "system/x"}).status, 113);
}

TEST_F(SandboxTools, KeptAliveJobRestartsNoSoonerThanItsThrottleInterval) {
    const std::string out = machine.root() + "/env.out";
    const std::string path = installJob(
        machine, "local.test.crasher",
        {"/bin/sh", "-c", "echo \"$VESPERON_SANDBOX\" > " + out + "; echo crashing; exit 1"}, true,
        2);
    ASSERT_EQ(machine.tool("/bin/launchctl", {"bootstrap", "system", path}).status, 0);
    ASSERT_TRUE(waitUntil([&] { return machine.jobStarts().size() >= 3; }, 10));
    // Unloaded first, so that no restart is rewriting the file while it is read.
    ASSERT_EQ(machine.tool("/bin/launchctl", {"bootout", "system/local.test.crasher"}).status, 0);
    const auto starts = machine.jobStarts();
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i].label, "local.test.crasher");
        EXPECT_GE(starts[i].wallSeconds - starts[i - 1].wallSeconds, 1.99);
        EXPECT_NE(starts[i].pid, starts[i - 1].pid);
    }
    EXPECT_EQ(readFile(out), machine.root() + "\n");
    EXPECT_NE(machine.jobsLog().find("crashing\ncrashing\n"), std::string::npos);
    EXPECT_EQ(zombieChildren(supervisorPid(machine)), 0);
}

TEST_F(SandboxTools, JobCanUnloadItself) {
    const std::string out = machine.root() + "/after";
    const std::string path =
        installJob(machine, "local.test.self",
                   {"/bin/sh", "-c",
                    machine.root() + "/bin/launchctl bootout system/local.test.self; touch " + out +
                        "; sleep 600"});
    ASSERT_EQ(machine.tool("/bin/launchctl", {"bootstrap", "system", path}).status, 0);
    EXPECT_TRUE(waitUntil(
        [&] {
            return machine.tool("/bin/launchctl", {"print", "system/local.test.self"}).status ==
                   113;
        },
        5));
    // The job's process ends with the unload and is not started again.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_FALSE(pathExists(out));
    EXPECT_EQ(machine.jobStarts().size(), 1u);
    EXPECT_EQ(zombieChildren(supervisorPid(machine)), 0);
}

TEST_F(SandboxTools, UnloadKillsAJobThatIgnoresTheTerminateRequest) {
    const std::string path =
        installJob(machine, "local.test.stubborn",
                   {"/bin/sh", "-c", "trap '' TERM; while :; do sleep 0.1; done"});
    ASSERT_EQ(machine.tool("/bin/launchctl", {"bootstrap", "system", path}).status, 0);
    const int pid = jobPid(machine, "local.test.stubborn");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the trap be set
    const ProcessOutcome unloaded =
        machine.tool("/bin/launchctl", {"bootout", "system/local.test.stubborn"});
    EXPECT_EQ(unloaded.status, 0);
    EXPECT_GE(unloaded.seconds, 1.5);
    EXPECT_NE(::kill(pid, 0), 0);
}

TEST_F(SandboxTools, RebootKillsJobsChangesBootAndReloadsJobFiles) {
    const std::string path = installJob(machine, "local.test.sleeper", {"/bin/sleep", "600"});
    ASSERT_EQ(machine.tool("/bin/launchctl", {"bootstrap", "system", path}).status, 0);
    const int before = jobPid(machine, "local.test.sleeper");
    const std::string bootBefore = readFile(machine.machineFile("boot-id"));
    ASSERT_EQ(machine.sandbox({"sleep", "100000"}).status, 0);

    ASSERT_EQ(machine.sandbox({"reboot"}).status, 0);
    EXPECT_NE(::kill(before, 0), 0);
    const std::string bootAfter = readFile(machine.machineFile("boot-id"));
    EXPECT_NE(bootAfter, bootBefore);
    EXPECT_EQ(bootAfter.size(), 37u);
    // The continuous clock starts again near zero.
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double clock =
        static_cast<double>(now.tv_sec) + std::stod(readFile(machine.machineFile("clock-offset")));
    EXPECT_LT(clock, 10.0);
    EXPECT_GE(clock, 0.0);
    const int after = jobPid(machine, "local.test.sleeper");
    EXPECT_GT(after, 0);
    EXPECT_NE(after, before);
    EXPECT_EQ(machine.jobStarts().size(), 2u);

    // A job whose file was removed does not come back at the next boot.
    ::unlink(path.c_str());
    ASSERT_EQ(machine.sandbox({"reboot"}).status, 0);
    EXPECT_EQ(machine.tool("/bin/launchctl", {"print", "system/local.test.sleeper"}).status, 113);
}

} // namespace
} // namespace vesperon::e2e
