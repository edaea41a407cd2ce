#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include "common/Error.hpp"
#include "common/OwnedFd.hpp"

namespace vesperon {

// What to start and how to connect it.
struct ChildSpec {
    enum class Input { Inherit, None, Pipe };
    // combined: standard output and standard error on one pipe; standardOutput: only
    // standard output on the pipe; none: standard output discarded. Standard error
    // apart from the pipe goes to `errorPath`.
    enum class Output { Combined, StandardOutput, None };

    std::string path;                   // absolute path of the program; also its argv[0]
    std::vector<std::string> arguments; // after argv[0]
    // "NAME=value" entries; nothing: this process's environment.
    std::optional<std::vector<std::string>> environment;
    Input input = Input::None;
    Output output = Output::Combined;
    // The file standard error is appended to (made 0600 when missing) when it is not on
    // the pipe; empty: discarded.
    std::string errorPath{};
    std::string workingFolder; // empty: this process's
};

// A child process that leads its own process group, so that whatever it starts can be
// ended with it. It starts with default signal handling, nothing blocked and no
// descriptor of ours beyond the three standard ones. The pipes are non-blocking on
// our side. Until the child is reaped its pid, and so its group id, cannot be reused:
// signals to the group reach only what the child left behind. The destructor stops
// a child that is still ours (see `stop`).
class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds defaultGrace{250};

    // Errors: the system domain with errno as the code.
    [[nodiscard]] static Result<ChildProcess> start(const ChildSpec& spec);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] bool running() const { return pid_ > 0; }

    // Writes all of `data` to the child's input before `deadline`; false when the
    // child stopped reading or the time ran out. A reader that has gone away gives
    // false, never SIGPIPE.
    [[nodiscard]] bool send(std::string_view data, Clock::time_point deadline);
    void closeInput() { input_.reset(); }

    // Up to `capacity` bytes of output; 0 at the end of the output, the deadline or
    // an error.
    [[nodiscard]] std::size_t receive(char* buffer, std::size_t capacity,
                                      Clock::time_point deadline);

    // True once the child has exited; it stays unreaped.
    [[nodiscard]] bool exited() const;
    // Sends `signal` to the whole group.
    void signalGroup(int signal) const;
    // Ends what is left in the group and collects the child, waiting for it: its wait
    // status, or nothing when someone else collected it.
    std::optional<int> reap();
    // SIGTERM to the group, up to `grace` for the child to exit, SIGKILL to the group,
    // then reap().
    std::optional<int> stop(std::chrono::milliseconds grace = defaultGrace);

    // Runs the child to its end while collecting its output (at most `maxOutputBytes`
    // kept; the rest is read and dropped). When `seconds` pass on `now` (seconds on
    // any clock), the child is stopped with `grace`. Never reads more than a bounded
    // amount after the child has ended, so a descendant that keeps writing cannot
    // hold the caller.
    struct Outcome {
        std::optional<int> waitStatus; // nothing when the status was lost
        bool timedOut = false;
        std::string output;
        // The exit code, or the number of the signal that ended the child; -1 when
        // the status was lost.
        [[nodiscard]] int exitCodeOrSignal() const;
    };
    struct Limits {
        double seconds = 10.0;
        double (*now)() = &steadySeconds;
        std::size_t maxOutputBytes = 1 << 20;
        std::chrono::milliseconds grace = defaultGrace;
    };
    [[nodiscard]] Outcome collect(const Limits& limits);

    [[nodiscard]] static double steadySeconds();

  private:
    ChildProcess(pid_t pid, OwnedFd input, OwnedFd output);

    pid_t pid_ = -1;
    OwnedFd input_;
    OwnedFd output_;
};

} // namespace vesperon
