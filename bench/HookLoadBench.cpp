// Load on the hook endpoint: 1,000 real "vesperon --agent-event claude" processes over
// 10 s against an armed run while this process polls the run like the app does.
//   - Every event is published once and consumed once: inotify on the run folder sees
//     each event file appear (renamed into place) and go (removed by the run) exactly
//     once, and nothing is left.
//   - None is lost: 250 sessions each send busy, busy, waiting, idle in that order, so
//     every session must end idle; one lost or reordered event leaves it otherwise.
//   - Then the cost of one poll that drains 256 events (target: under 5 ms), beside
//     the floor under it: the same files listed, opened, inspected, read, closed and
//     removed by bare system calls, with nothing parsed.
//
// Usage: hook_load_bench VESPERON [HOOKS] [SECONDS]
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "BenchTiming.hpp"
#include "HookSandbox.hpp"

extern char** environ;

namespace {

using vesperon::bench::monotonicSeconds;
using vesperon::bench::percentile;

constexpr int sessions = 250;
constexpr const char* eventsInOrder[] = {"UserPromptSubmit", "PreToolUse", "PermissionRequest",
                                         "Stop"};

// Processor time of this thread: unlike wall time, it does not grow with the load
// of the other processes on the machine.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Processor time of the file work alone of a poll that drains `count` event files of
// the size the hook writes, in a fresh folder under `parent`; negative on failure.
double drainFloorSeconds(const std::string& parent, int count) {
    const std::string folder = parent + "/floor";
    if (mkdir(folder.c_str(), 0700) != 0) {
        return -1;
    }
    const std::string record(170, 'x');
    for (int k = 0; k < count; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, "/%08d-0000-4000-8000-000000000000.json", k);
        const int fd = open((folder + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool written = fd >= 0 && write(fd, record.data(), record.size()) > 0;
        if (fd >= 0) {
            close(fd);
        }
        if (!written) {
            return -1;
        }
    }
    const double start = threadCpuSeconds();
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fdopendir(dup(dirFd));
    char buffer[4096];
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat info {};
        const bool consumed = fstat(fd, &info) == 0 && read(fd, buffer, sizeof buffer) > 0;
        close(fd);
        if (!consumed) {
            break;
        }
        unlinkat(dirFd, entry->d_name, 0);
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    close(dirFd);
    const double spent = threadCpuSeconds() - start;
    return rmdir(folder.c_str()) == 0 ? spent : -1;
}

std::string sessionID(int session) {
    char id[64];
    std::snprintf(id, sizeof id, "5e551000-0000-4000-8000-%012d", session);
    return id;
}

std::string payload(int session, int step) {
    return std::string("{\"session_id\":\"") + sessionID(session) + "\",\"hook_event_name\":\"" +
           eventsInOrder[step] + "\",\"tool_name\":\"Edit\",\"cwd\":\"/home/user/work\"}";
}

// Starts one hook process with `input` on its standard input; -1 when it cannot start.
pid_t startHook(const std::string& vesperon, const std::string& input) {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = vesperon;
    std::string flag = "--agent-event";
    std::string provider = "claude";
    char* argv[] = {program.data(), flag.data(), provider.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    if (spawned == 0) {
        // Small payloads fit the pipe's buffer: the write does not wait for the reader.
        const ssize_t written = write(in[1], input.data(), input.size());
        (void)written;
    }
    close(in[1]);
    return spawned == 0 ? pid : -1;
}

// Names of event files published into and removed from the run folder.
struct FolderWatch {
    int fd = -1;
    std::map<std::string, int> published;
    std::map<std::string, int> removed;
    bool overflowed = false;

    void drain() {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                return;
            }
            for (char* p = buffer; p < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                const std::string name = event->len > 0 ? event->name : "";
                if (event->mask & IN_Q_OVERFLOW) {
                    overflowed = true;
                }
                if (name.ends_with(".json")) {
                    if (event->mask & (IN_MOVED_TO | IN_CREATE)) {
                        ++published[name];
                    }
                    if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                        ++removed[name];
                    }
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
    }
};

int reapFinished(std::map<pid_t, int>& running, int& failures) {
    int reaped = 0;
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid <= 0) {
            return reaped;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++failures;
        }
        running.erase(pid);
        ++reaped;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s VESPERON [HOOKS] [SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string vesperon = argv[1];
    const int hooks = argc > 2 ? std::max(4, std::atoi(argv[2])) / 4 * 4 : 1000;
    const double seconds = argc > 3 ? std::atof(argv[3]) : 10.0;
    const int perSession = 4;
    const int sessionCount = std::min(sessions, hooks / perSession);

    const vesperon::bench::HookSandbox sandbox("vesperon-load");
    if (!sandbox.ready()) {
        return 1;
    }

    int status = 0;
    {
        vesperon::AgentTrackingRun run(std::nullopt, nullptr, 0.0);
        const auto armed = vesperon::bench::HookSandbox::arm(run);
        if (!armed) {
            return 1;
        }
        const std::string& runFolder = *armed;
        FolderWatch watch;
        watch.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch.fd < 0 ||
            inotify_add_watch(watch.fd, runFolder.c_str(),
                              IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM) < 0) {
            std::perror("inotify");
            return 1;
        }

        // Hook k is step k / sessionCount of session k % sessionCount, started at an even
        // pace; a session's next step waits until its previous hook has exited, as an
        // agent's next hook does.
        std::printf("hook load: %d hook processes over %.0f s, %d sessions, the run polled "
                    "every 100 ms\n",
                    sessionCount * perSession, seconds, sessionCount);
        std::map<pid_t, int> running; // pid -> session
        std::vector<pid_t> lastOfSession(static_cast<std::size_t>(sessionCount), -1);
        std::vector<double> pollTimes;
        int failures = 0;
        int started = 0;
        const int total = sessionCount * perSession;
        const double begin = monotonicSeconds();
        double nextPoll = begin;
        int finalPolls = 0;
        while (started < total || !running.empty() || finalPolls < 40) {
            const double now = monotonicSeconds();
            if (started < total && now >= begin + seconds * started / total) {
                const int session = started % sessionCount;
                const pid_t previous = lastOfSession[static_cast<std::size_t>(session)];
                if (previous > 0 && running.contains(previous)) {
                    int waitStatus = 0;
                    if (waitpid(previous, &waitStatus, 0) == previous) {
                        if (!WIFEXITED(waitStatus) || WEXITSTATUS(waitStatus) != 0) {
                            ++failures;
                        }
                        running.erase(previous);
                    }
                }
                const pid_t pid = startHook(vesperon, payload(session, started / sessionCount));
                if (pid < 0) {
                    ++failures;
                } else {
                    running[pid] = session;
                    lastOfSession[static_cast<std::size_t>(session)] = pid;
                }
                ++started;
                continue;
            }
            reapFinished(running, failures);
            if (now >= nextPoll) {
                const double t = monotonicSeconds();
                const auto snapshot = run.poll();
                pollTimes.push_back(monotonicSeconds() - t);
                if (!snapshot.ready) {
                    std::fprintf(stderr, "integrity failure reported by the run\n");
                    status = 1;
                    break;
                }
                nextPoll = now + 0.1;
                if (started == total && running.empty()) {
                    ++finalPolls;
                }
            }
            watch.drain();
            usleep(1000);
        }
        const double elapsed = monotonicSeconds() - begin;
        watch.drain();
        const auto snapshot = run.poll();

        int publishedOnce = 0;
        int publishedMore = 0;
        int removedOnce = 0;
        int removedMore = 0;
        int neverRemoved = 0;
        for (const auto& [name, count] : watch.published) {
            (count == 1 ? publishedOnce : publishedMore)++;
            const auto removed = watch.removed.find(name);
            if (removed == watch.removed.end()) {
                ++neverRemoved;
            } else {
                (removed->second == 1 ? removedOnce : removedMore)++;
            }
        }
        std::size_t left = 0;
        for (const auto& entry : std::filesystem::directory_iterator(runFolder)) {
            (void)entry;
            ++left;
        }
        std::printf("  %d hooks in %.1f s (%d failed to run); events published %zu "
                    "(once %d, more than once %d), consumed once %d, more than once %d, "
                    "never %d; files left %zu%s\n",
                    total, elapsed, failures, watch.published.size(), publishedOnce, publishedMore,
                    removedOnce, removedMore, neverRemoved, left,
                    watch.overflowed ? "; INOTIFY OVERFLOW" : "");
        std::printf("  final table: %d sessions tracked, %d busy, %d waiting; summary \"%s\"\n",
                    snapshot.trackedCount, snapshot.busyCount, snapshot.waitingCount,
                    snapshot.summary.c_str());
        std::printf("  polls while loaded: %zu, median %.3f ms, p95 %.3f ms, max %.3f ms\n",
                    pollTimes.size(), percentile(pollTimes, 0.5) * 1e3,
                    percentile(pollTimes, 0.95) * 1e3,
                    *std::max_element(pollTimes.begin(), pollTimes.end()) * 1e3);
        const bool exact = failures == 0 && static_cast<int>(watch.published.size()) == total &&
                           publishedMore == 0 && removedOnce == total && left == 0 &&
                           !watch.overflowed;
        const bool allIdle = snapshot.trackedCount == sessionCount && snapshot.busyCount == 0 &&
                             snapshot.waitingCount == 0;
        std::printf("  every event consumed exactly once: %s; every session ended idle: %s\n",
                    exact ? "yes" : "NO", allIdle ? "yes" : "NO");
        if (!exact || !allIdle) {
            status = 1;
        }
        close(watch.fd);
    }

    // The cost of one poll that drains a full batch of 256 events.
    std::vector<double> drainTimes;
    std::vector<double> drainCpu;
    for (int round = 0; round < 15 && status == 0; ++round) {
        vesperon::AgentTrackingRun run(std::nullopt, nullptr, 0.0);
        if (!run.arm(std::string("claude"))) {
            return 1;
        }
        std::map<pid_t, int> running;
        int failures = 0;
        for (int k = 0; k < static_cast<int>(vesperon::AgentTrackingRun::entriesPerPoll); ++k) {
            const pid_t pid = startHook(vesperon, payload(k, k % 2));
            running[pid] = k;
            if (running.size() >= 16) {
                int waitStatus = 0;
                const pid_t done = wait(&waitStatus);
                running.erase(done);
            }
        }
        while (!running.empty()) {
            int waitStatus = 0;
            const pid_t done = wait(&waitStatus);
            if (done < 0) {
                break;
            }
            running.erase(done);
        }
        (void)failures;
        const double t = monotonicSeconds();
        const double cpu = threadCpuSeconds();
        const auto snapshot = run.poll();
        drainCpu.push_back(threadCpuSeconds() - cpu);
        drainTimes.push_back(monotonicSeconds() - t);
        if (snapshot.trackedCount != static_cast<int>(vesperon::AgentTrackingRun::entriesPerPoll)) {
            std::fprintf(stderr, "a full poll tracked %d sessions, not 256\n",
                         snapshot.trackedCount);
            status = 1;
        }
    }
    std::vector<double> floorCpu;
    for (int round = 0; round < 15 && status == 0; ++round) {
        const double spent = drainFloorSeconds(
            sandbox.path(), static_cast<int>(vesperon::AgentTrackingRun::entriesPerPoll));
        if (spent < 0) {
            std::perror("the floor's event files");
            status = 1;
        }
        floorCpu.push_back(spent);
    }
    if (!drainTimes.empty()) {
        const double median = percentile(drainTimes, 0.5);
        const double worst = *std::max_element(drainTimes.begin(), drainTimes.end());
        const double cpuMedian = percentile(drainCpu, 0.5);
        std::printf("poll draining 256 events: %zu rounds, wall median %.3f ms, max %.3f ms; "
                    "processor time median %.3f ms (target: under 5 ms): %s\n",
                    drainTimes.size(), median * 1e3, worst * 1e3, cpuMedian * 1e3,
                    median < 5e-3 ? "met"
                                  : (cpuMedian < 5e-3 ? "met in processor time only" : "MISSED"));
    }
    if (!floorCpu.empty()) {
        std::printf("  the floor, its file system calls alone: processor time median %.3f ms\n",
                    percentile(floorCpu, 0.5) * 1e3);
    }
    return status;
}
