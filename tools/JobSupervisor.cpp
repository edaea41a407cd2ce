#include "JobSupervisor.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/CloseOnExec.hpp"

namespace vesperon::tools {
namespace {

constexpr double terminationGraceSeconds = 2.0;
constexpr int notLoadedStatus = 113;

double monotonicSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::optional<std::string> labelOfTarget(const std::string& target) {
    constexpr std::string_view prefix = "system/";
    if (!target.starts_with(prefix) || target.size() == prefix.size()) {
        return std::nullopt;
    }
    return target.substr(prefix.size());
}

SupervisorReply unrecognizedTarget(const std::string& target) {
    return {1, "Unrecognized target specifier: " + target + "\n"};
}

void appendLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t written = ::write(fd, line.data(), line.size());
        (void)written;
        ::close(fd);
    }
}

std::string describeExit(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return "exited " + std::to_string(WEXITSTATUS(waitStatus));
    }
    return std::string("killed by signal ") + std::to_string(WTERMSIG(waitStatus));
}

} // namespace

JobSupervisor::JobSupervisor(std::string sandboxRoot) : files_(std::move(sandboxRoot)) {
    jobEnvironment_.emplace_back("PATH=/usr/bin:/bin:/usr/sbin:/sbin");
    jobEnvironment_.push_back("VESPERON_SANDBOX=" + files_.root());
    // Sanitizer builds keep their settings in the jobs they run.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            jobEnvironment_.push_back(std::string(name) + "=" + value);
        }
    }
}

void JobSupervisor::log(const std::string& line) const {
    std::fprintf(stdout, "%.3f %s\n", wallClockSeconds(), line.c_str());
    std::fflush(stdout);
}

int JobSupervisor::run() {
    // Orphaned descendants of the jobs come to us, so that nothing stays a zombie.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGCHLD);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    signalFd_.reset(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signalFd_) {
        std::fprintf(stderr, "launchd-standin: signalfd: %s\n", std::strerror(errno));
        return 1;
    }
    auto listening = listenForRequests(files_.root());
    if (!listening) {
        std::fprintf(stderr, "launchd-standin: %s\n", listening.error().c_str());
        return 1;
    }
    listenFd_ = std::move(*listening);
    if (!files_.writeInteger("launchd.pid", ::getpid())) {
        std::fprintf(stderr, "launchd-standin: cannot write %s\n",
                     files_.path("launchd.pid").c_str());
        return 1;
    }
    log("service manager started, pid " + std::to_string(::getpid()));
    loadBootJobs();

    while (!stopping_) {
        pollfd fds[2] = {{signalFd_.get(), POLLIN, 0}, {listenFd_.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            log(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            while (::read(signalFd_.get(), &info, sizeof info) == sizeof info) {
                if (info.ssi_signo != SIGCHLD) {
                    stopping_ = true;
                }
            }
            reapChildren();
        }
        if (fds[1].revents & POLLIN) {
            const int connection = vesperon::acceptCloseOnExec(listenFd_.get());
            if (connection >= 0) {
                ucred peer{};
                socklen_t peerSize = sizeof peer;
                const bool privileged =
                    ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0 &&
                    peer.uid == 0;
                const auto request = readRequest(connection);
                bool deferred = false;
                const SupervisorReply reply =
                    request ? handle(*request, connection, deferred, privileged)
                            : SupervisorReply{64, "launchctl: malformed request\n"};
                if (!deferred) {
                    sendReply(connection, reply);
                }
            }
        }
        reapChildren();
        runTimers();
        // A machine folder that was removed under us means the sandbox is gone.
        struct stat info {};
        if (::stat(files_.path("").c_str(), &info) != 0) {
            log("machine folder gone; shutting down");
            stopping_ = true;
        }
    }
    killEverything();
    ::unlink(supervisorSocketPath(files_.root()).c_str());
    ::unlink(files_.path("launchd.pid").c_str());
    log("service manager stopped");
    return 0;
}

int JobSupervisor::pollTimeoutMs() const {
    double next = monotonicSeconds() + 1.0;
    for (const auto& [label, job] : jobs_) {
        if (job.restartAt) {
            next = std::min(next, *job.restartAt);
        }
    }
    for (const EndingProcess& process : ending_) {
        next = std::min(next, process.killAt);
    }
    const double wait = next - monotonicSeconds();
    return wait <= 0 ? 0 : static_cast<int>(wait * 1000.0) + 1;
}

SupervisorReply JobSupervisor::handle(const std::vector<std::string>& args, int connection,
                                      bool& deferred, bool privileged) {
    const std::string command = args.empty() ? std::string() : args[0];
    const bool changes = command == "bootstrap" || command == "bootout" || command == "reboot";
    if (changes && !privileged) {
        return {1, command == "bootout" ? "Boot-out failed: 1: Operation not permitted\n"
                                        : "Bootstrap failed: 1: Operation not permitted\n"};
    }
    if (command == "bootstrap" && args.size() == 3) {
        if (args[1] != "system") {
            return unrecognizedTarget(args[1]);
        }
        return bootstrap(args[2]);
    }
    if (command == "bootout" && args.size() == 2) {
        return bootout(args[1], connection, deferred);
    }
    if (command == "print" && args.size() == 2) {
        return print(args[1]);
    }
    if (command == "reboot" && args.size() == 1) {
        return reboot();
    }
    return {64, "Usage: launchctl bootstrap system <path> | bootout system/<label> | "
                "print system/<label> | reboot\n"};
}

SupervisorReply JobSupervisor::bootstrap(const std::string& path) {
    auto definition = loadJobDefinition(path);
    if (!definition) {
        log("bootstrap refused: " + definition.error());
        return {5, "Bootstrap failed: 5: Input/output error\n" + definition.error() + "\n"};
    }
    if (jobs_.contains(definition->label)) {
        log("bootstrap refused: " + definition->label + " already loaded");
        return {5, "Bootstrap failed: 5: Input/output error\nService is already loaded: system/" +
                       definition->label + "\n"};
    }
    const std::string label = definition->label;
    Job& job = jobs_[label];
    job.definition = std::move(*definition);
    log("loaded " + label + " from " + path);
    if (job.definition.runAtLoad) {
        startJob(job);
    }
    return {0, ""};
}

SupervisorReply JobSupervisor::bootout(const std::string& target, int connection, bool& deferred) {
    const auto label = labelOfTarget(target);
    if (!label) {
        return unrecognizedTarget(target);
    }
    const auto found = jobs_.find(*label);
    if (found == jobs_.end()) {
        return {3, "Boot-out failed: 3: No such process\n"};
    }
    const pid_t pid = found->second.pid;
    jobs_.erase(found);
    log("unloaded " + *label);
    if (pid <= 0) {
        return {0, ""};
    }
    // The caller may be the job's own process (a job that unloads itself): the reply
    // waits, without blocking the loop, until the process is gone.
    ::kill(pid, SIGTERM);
    ending_.push_back({pid, monotonicSeconds() + terminationGraceSeconds, {connection}});
    deferred = true;
    return {0, ""};
}

SupervisorReply JobSupervisor::print(const std::string& target) const {
    const auto label = labelOfTarget(target);
    if (!label) {
        return unrecognizedTarget(target);
    }
    const auto found = jobs_.find(*label);
    if (found == jobs_.end()) {
        return {notLoadedStatus,
                "Could not find service \"" + *label + "\" in domain for system\n"};
    }
    const Job& job = found->second;
    std::string text = target + " = {\n";
    text += "\tpath = " + job.definition.path + "\n";
    text += std::string("\tstate = ") + (job.pid > 0 ? "running" : "not running") + "\n";
    text += "\tprogram = " + job.definition.programArguments.front() + "\n";
    text += "\targuments = {\n";
    for (const std::string& argument : job.definition.programArguments) {
        text += "\t\t" + argument + "\n";
    }
    text += "\t}\n";
    if (job.pid > 0) {
        text += "\tpid = " + std::to_string(job.pid) + "\n";
    }
    text += "\truns = " + std::to_string(job.runs) + "\n";
    text += "\tlast exit code = " + std::to_string(job.lastExit) + "\n";
    text += "}\n";
    return {0, text};
}

SupervisorReply JobSupervisor::reboot() {
    log("reboot");
    killEverything();
    {
        const MachineFiles::Lock lock(files_);
        files_.writeText("boot-id", makeUuid() + "\n");
        // The continuous clock starts again near zero at boot.
        char offset[64];
        std::snprintf(offset, sizeof offset, "%.6f\n", 1.0 - bootClockSeconds());
        files_.writeText("clock-offset", offset);
    }
    loadBootJobs();
    return {0, ""};
}

void JobSupervisor::loadBootJobs() {
    const std::string folder = files_.root() + "/Library/LaunchDaemons";
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.size() > 6 && name.ends_with(".plist")) {
            names.push_back(name);
        }
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = folder + "/";
        path += name;
        const SupervisorReply reply = bootstrap(path);
        if (reply.status != 0) {
            std::string line = "boot: " + name;
            line += " not loaded";
            log(line);
        }
    }
}

void JobSupervisor::startJob(Job& job) {
    job.restartAt.reset();
    job.lastStart = monotonicSeconds();
    ++job.runs;
    const std::string jobsLog = files_.path("jobs.log");
    std::vector<char*> argv;
    argv.reserve(job.definition.programArguments.size() + 1);
    for (std::string& argument : job.definition.programArguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(jobEnvironment_.size() + 1);
    for (std::string& entry : jobEnvironment_) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // The job runs in its own session and process group, with default signals.
        ::setsid();
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        if (::chdir("/") != 0) {
            ::_exit(127);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(jobsLog.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (in < 0 || out < 0) {
            ::_exit(127);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::close_range(3, ~0U, 0);
        ::execve(argv[0], argv.data(), envp.data());
        const std::string message = "launchd-standin: cannot run " + std::string(argv[0]) + ": " +
                                    std::strerror(errno) + "\n";
        const ssize_t written = ::write(2, message.data(), message.size());
        (void)written;
        ::_exit(127);
    }
    if (pid < 0) {
        log("fork failed for " + job.definition.label + ": " + std::strerror(errno));
        job.restartAt = job.lastStart + std::max(job.definition.throttleInterval, 1);
        return;
    }
    job.pid = pid;
    char line[256];
    std::snprintf(line, sizeof line, "%.3f %s %d\n", wallClockSeconds(),
                  job.definition.label.c_str(), static_cast<int>(pid));
    appendLine(files_.path("job-starts.log"), line);
    log("started " + job.definition.label + " pid " + std::to_string(pid));
}

void JobSupervisor::reapChildren() {
    for (;;) {
        int waitStatus = 0;
        const pid_t pid = ::waitpid(-1, &waitStatus, WNOHANG);
        if (pid <= 0) {
            return;
        }
        processExited(pid, waitStatus);
    }
}

void JobSupervisor::processExited(pid_t pid, int waitStatus) {
    for (auto& [label, job] : jobs_) {
        if (job.pid != pid) {
            continue;
        }
        job.pid = 0;
        job.lastExit = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -WTERMSIG(waitStatus);
        // Like launchd, what the job left running in its process group ends with it.
        ::kill(-pid, SIGKILL);
        log(label + " pid " + std::to_string(pid) + " " + describeExit(waitStatus));
        if (job.definition.keepAlive && !stopping_) {
            job.restartAt =
                std::max(monotonicSeconds(), job.lastStart + job.definition.throttleInterval);
        }
        return;
    }
    for (auto it = ending_.begin(); it != ending_.end(); ++it) {
        if (it->pid != pid) {
            continue;
        }
        ::kill(-pid, SIGKILL);
        log("unloaded job's pid " + std::to_string(pid) + " " + describeExit(waitStatus));
        for (const int waiter : it->waiters) {
            sendReply(waiter, {0, ""});
        }
        ending_.erase(it);
        return;
    }
    // Any other child is an orphaned descendant of a job: reaped and forgotten.
}

void JobSupervisor::runTimers() {
    const double now = monotonicSeconds();
    for (auto& [label, job] : jobs_) {
        if (job.restartAt && *job.restartAt <= now && job.pid == 0) {
            startJob(job);
        }
    }
    for (EndingProcess& process : ending_) {
        if (process.killAt <= now) {
            ::kill(-process.pid, SIGKILL);
            ::kill(process.pid, SIGKILL);
            process.killAt = now + 3600.0;
        }
    }
}

void JobSupervisor::killEverything() {
    std::vector<pid_t> pids;
    for (auto& [label, job] : jobs_) {
        if (job.pid > 0) {
            pids.push_back(job.pid);
        }
    }
    for (const EndingProcess& process : ending_) {
        pids.push_back(process.pid);
    }
    for (const pid_t pid : pids) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    for (const pid_t pid : pids) {
        int waitStatus = 0;
        while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
        }
    }
    for (const EndingProcess& process : ending_) {
        for (const int waiter : process.waiters) {
            sendReply(waiter, {0, ""});
        }
    }
    ending_.clear();
    jobs_.clear();
    reapChildren();
}

} // namespace vesperon::tools
