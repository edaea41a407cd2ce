#include "agents/CodexHookTrust.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "agents/AgentHookSettings.hpp"
#include "common/UntrustedJson.hpp"
#include "platform/UserHome.hpp"

extern char** environ;

namespace vesperon {

namespace {

constexpr const char* notFoundMessage =
    "Codex CLI was not found. Install or open Codex before watching its work.";
constexpr const char* notLaunchedMessage = "Codex hook status could not be checked.";
constexpr const char* notRequestedMessage = "Codex hook status could not be requested.";
constexpr const char* noAnswerMessage =
    "Codex did not answer the hook check. Try again after restarting it.";
constexpr const char* badAnswerMessage = "Codex could not report its hook status.";
constexpr const char* missingMessage =
    "Some Vesperon hooks are missing from Codex. Reconnect Codex and restart it.";
constexpr const char* unknownTrustMessage =
    "Codex hooks are disabled or their trust status is unknown. Review them in Codex.";

// The events our Codex hooks are installed for, as Codex reports them in lower case.
constexpr std::array<std::string_view, 9> requiredEvents{
    "userpromptsubmit", "pretooluse", "posttooluse",   "permissionrequest", "stop",
    "interrupt",        "sessionend", "subagentstart", "subagentstop",
};

using Clock = std::chrono::steady_clock;

// How long a child that was asked to stop may take before it is killed outright.
constexpr auto terminationGrace = std::chrono::milliseconds(250);

int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count()) + 1;
}

// Writing to a pipe whose reader is gone raises SIGPIPE, which would end the whole
// application. While this guard lives the signal is blocked for this thread, and a
// SIGPIPE raised meanwhile is taken off the thread's pending set again.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;
    ~SigpipeGuard() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{};
            while (sigtimedwait(&pipeOnly_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

  private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool wasPending_ = false;
};

// The Codex app server as a child process that leads its own process group. However
// the check ends, the destructor takes the child down with everything it started:
// a polite SIGTERM to the group, a short grace, SIGKILL to whatever is left, and the
// child is reaped (while it is unreaped its group id cannot be reused).
class AppServer {
  public:
    AppServer() = default;
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;
    ~AppServer() { stop(); }

    bool launch(const std::string& executable) {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0) {
            return false;
        }
        if (::pipe2(output, O_CLOEXEC) != 0) {
            ::close(input[0]);
            ::close(input[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__)
        // Nothing else of the application leaks into Codex.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes,
                                 static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETSIGDEF));
        posix_spawnattr_setpgroup(&attributes, 0);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGINT);
        posix_spawnattr_setsigdefault(&attributes, &defaults);

        std::string arg0 = executable;
        std::string arg1 = "app-server";
        std::string arg2 = "--listen";
        std::string arg3 = "stdio://";
        char* argv[] = {arg0.data(), arg1.data(), arg2.data(), arg3.data(), nullptr};
        pid_t child = -1;
        const int status =
            ::posix_spawn(&child, executable.c_str(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(input[0]);
        ::close(output[1]);
        if (status != 0) {
            ::close(input[1]);
            ::close(output[0]);
            return false;
        }
        pid_ = child;
        input_ = input[1];
        output_ = output[0];
        ::fcntl(input_, F_SETFL, O_NONBLOCK);
        ::fcntl(output_, F_SETFL, O_NONBLOCK);
        return true;
    }

    // Writes all of `data` to the child's input before `deadline`.
    bool send(std::string_view data, Clock::time_point deadline) {
        const SigpipeGuard guard;
        while (!data.empty()) {
            const ssize_t written = ::write(input_, data.data(), data.size());
            if (written > 0) {
                data.remove_prefix(static_cast<std::size_t>(written));
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            pollfd ready{input_, POLLOUT, 0};
            const int wait = millisecondsUntil(deadline);
            if (wait == 0 || (::poll(&ready, 1, wait) < 0 && errno != EINTR)) {
                return false;
            }
        }
        return true;
    }

    // Up to `capacity` bytes of output; 0 at the end of the output, the deadline or
    // an error.
    std::size_t receive(char* buffer, std::size_t capacity, Clock::time_point deadline) {
        while (true) {
            const ssize_t got = ::read(output_, buffer, capacity);
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EAGAIN && errno != EINTR) {
                return 0;
            }
            pollfd ready{output_, POLLIN, 0};
            const int wait = millisecondsUntil(deadline);
            if (wait == 0 || (::poll(&ready, 1, wait) < 0 && errno != EINTR)) {
                return 0;
            }
        }
    }

  private:
    void stop() {
        if (pid_ <= 0) {
            return;
        }
        ::close(input_);
        ::kill(-pid_, SIGTERM);
        const auto giveUp = Clock::now() + terminationGrace;
        while (Clock::now() < giveUp) {
            siginfo_t info{};
            // Looks without reaping, so the group id stays ours for the SIGKILL below.
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid_) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(-pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        ::close(output_);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> requestLines(const std::string& cwd) {
    using Ordered = nlohmann::ordered_json;
    const Ordered initialize = {
        {"id", 1},
        {"method", "initialize"},
        {"params",
         {{"clientInfo", {{"name", "vesper-on"}, {"version", "1"}}},
          {"capabilities", {{"experimentalApi", true}}}}},
    };
    const Ordered initialized = {{"method", "initialized"}};
    const Ordered list = {
        {"id", 2},
        {"method", "hooks/list"},
        {"params", {{"cwds", Ordered::array({cwd})}}},
    };
    try {
        // A folder name that is not valid UTF-8 cannot be put into JSON: the strict
        // serializer throws, and the request counts as not sent.
        return initialize.dump() + "\n" + initialized.dump() + "\n" + list.dump() + "\n";
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// An array whose elements are all objects.
const nlohmann::json* arrayOfObjects(const nlohmann::json& holder, const char* key) {
    const auto found = holder.find(key);
    if (found == holder.end() || !found->is_array()) {
        return nullptr;
    }
    for (const auto& item : *found) {
        if (!item.is_object()) {
            return nullptr;
        }
    }
    return &*found;
}

std::string asciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

} // namespace

std::vector<std::string> CodexHookTrust::defaultFixedCandidates() {
    return {
        "/Applications/ChatGPT.app/Contents/Resources/codex-cli/CodexCLI.app/Contents/MacOS/codex",
        "/opt/homebrew/bin/codex",
        "/usr/local/bin/codex",
    };
}

std::string CodexHookTrust::hookCommand(std::string_view executablePath) {
    return agentHookCommand(executablePath, "codex");
}

std::optional<std::string> CodexHookTrust::findCodex(const Search& search) {
    for (const std::string& candidate : search.fixedCandidates) {
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    std::string path;
    if (search.path) {
        path = *search.path;
    } else if (const char* variable = std::getenv("PATH")) {
        path = variable;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t colon = path.find(':', start);
        if (colon == std::string::npos) {
            colon = path.size();
        }
        if (colon > start) {
            const std::string candidate = path.substr(start, colon - start) + "/codex";
            if (isExecutableFile(candidate)) {
                return candidate;
            }
        }
        start = colon + 1;
    }
    return std::nullopt;
}

CodexHookTrust CodexHookTrust::assess(const nlohmann::json& response, std::string_view command) {
    const auto result = response.is_object() ? response.find("result") : response.end();
    if (result == response.end() || !result->is_object()) {
        return unavailable(badAnswerMessage);
    }
    const nlohmann::json* data = arrayOfObjects(*result, "data");
    if (data == nullptr || data->empty()) {
        return unavailable(badAnswerMessage);
    }
    const nlohmann::json& entry = data->front();
    const auto errors = entry.find("errors");
    const nlohmann::json* hooks = arrayOfObjects(entry, "hooks");
    if (errors == entry.end() || !errors->is_array() || !errors->empty() || hooks == nullptr) {
        return unavailable(badAnswerMessage);
    }

    std::vector<const nlohmann::json*> ours;
    std::set<std::string> names;
    for (const auto& hook : *hooks) {
        const auto text = hook.find("command");
        if (text == hook.end() || !text->is_string() ||
            text->get_ref<const std::string&>() != command) {
            continue;
        }
        ours.push_back(&hook);
        if (const auto name = hook.find("eventName"); name != hook.end() && name->is_string()) {
            names.insert(asciiLower(name->get<std::string>()));
        }
    }
    for (const std::string_view event : requiredEvents) {
        if (!names.contains(std::string(event))) {
            return unavailable(missingMessage);
        }
    }
    const auto trust = [](const nlohmann::json& hook) {
        const auto status = hook.find("trustStatus");
        return status != hook.end() && status->is_string() ? status->get<std::string>()
                                                           : std::string();
    };
    if (std::any_of(ours.begin(), ours.end(),
                    [&](const nlohmann::json* hook) { return trust(*hook) == "untrusted"; })) {
        return needsReview();
    }
    const bool allTrusted = std::all_of(ours.begin(), ours.end(), [&](const nlohmann::json* hook) {
        const auto enabled = hook->find("enabled");
        return enabled != hook->end() && enabled->is_boolean() && enabled->get<bool>() &&
               trust(*hook) == "trusted";
    });
    return allTrusted ? trusted() : unavailable(unknownTrustMessage);
}

CodexHookTrust CodexHookTrust::check(std::string_view executablePath,
                                     std::optional<std::string> cwd) {
    return check(executablePath, std::move(cwd), Search{});
}

CodexHookTrust CodexHookTrust::check(std::string_view executablePath,
                                     std::optional<std::string> cwd, const Search& search) {
    const auto codex = findCodex(search);
    if (!codex) {
        return unavailable(notFoundMessage);
    }
    const auto requests = requestLines(cwd ? *cwd : userHomeFolder());
    const std::string command = hookCommand(executablePath);

    if (!requests) {
        return unavailable(notRequestedMessage); // no reason to start what cannot be asked
    }

    AppServer server;
    if (!server.launch(*codex)) {
        return unavailable(notLaunchedMessage);
    }
    // One deadline for the whole exchange, writing included: a Codex that neither
    // reads nor answers is stopped after the same five seconds.
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    if (!server.send(*requests, deadline)) {
        return unavailable(notRequestedMessage);
    }

    std::string buffer;
    std::size_t lineStart = 0;
    std::array<char, 4096> chunk{};
    while (true) {
        const std::size_t got = server.receive(chunk.data(), chunk.size(), deadline);
        if (got == 0) {
            break;
        }
        buffer.append(chunk.data(), got);
        if (buffer.size() > maximumOutputBytes) {
            break;
        }
        for (std::size_t end; (end = buffer.find('\n', lineStart)) != std::string::npos;) {
            const auto line = std::string_view(buffer).substr(lineStart, end - lineStart);
            lineStart = end + 1;
            const auto message = parseUntrustedJson(line);
            if (!message || !message->is_object()) {
                continue;
            }
            const auto id = message->find("id");
            if (id != message->end() && id->is_number() && *id == 2) {
                return assess(*message, command);
            }
        }
        buffer.erase(0, lineStart);
        lineStart = 0;
    }
    return unavailable(noAnswerMessage);
}

} // namespace vesperon
