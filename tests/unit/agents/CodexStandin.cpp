// A stand-in for "codex app-server --listen stdio://", driven by its options so
// that tests can make it answer, answer late, answer in pieces, print notifications
// first, flood, stop reading, never answer, or refuse to die.
//
//   codex_standin [options] app-server --listen stdio://
//   --record FILE           write the arguments, then every request line received
//   --pidfile FILE          write this process's id (and a grandchild's, see below)
//   --reply FILE            bytes to print once the three requests have arrived
//   --notifications N       print N notification lines before the reply
//   --delay-ms N            wait this long before the reply
//   --chunk N               print the reply in pieces of N bytes ...
//   --chunk-delay-ms N      ... with this pause between them
//   --flood N               print N bytes without a line feed instead of replying
//   --close-input           close standard input at once and never read
//   --no-read               keep standard input open but never read it
//   --ignore-term           ignore SIGTERM (only SIGKILL ends it)
//   --grandchild            start a child that ignores SIGTERM and sleeps
//   --then exit|hang|serve  after replying: exit, sleep forever, or wait for the
//                           end of standard input (the default, like Codex)
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

void writeAll(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::exit(3);
        }
        done += static_cast<std::size_t>(n);
    }
}

[[noreturn]] void sleepForever() {
    while (true) {
        ::pause();
    }
}

void pauseMs(long ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string record, pidfile, replyFile, then = "serve";
    long notifications = 0, delayMs = 0, chunk = 0, chunkDelayMs = 0, flood = 0;
    bool closeInput = false, noRead = false, ignoreTerm = false, grandchild = false;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--record") {
            record = next();
        } else if (arg == "--pidfile") {
            pidfile = next();
        } else if (arg == "--reply") {
            replyFile = next();
        } else if (arg == "--notifications") {
            notifications = std::stol(next());
        } else if (arg == "--delay-ms") {
            delayMs = std::stol(next());
        } else if (arg == "--chunk") {
            chunk = std::stol(next());
        } else if (arg == "--chunk-delay-ms") {
            chunkDelayMs = std::stol(next());
        } else if (arg == "--flood") {
            flood = std::stol(next());
        } else if (arg == "--close-input") {
            closeInput = true;
        } else if (arg == "--no-read") {
            noRead = true;
        } else if (arg == "--ignore-term") {
            ignoreTerm = true;
        } else if (arg == "--grandchild") {
            grandchild = true;
        } else if (arg == "--then") {
            then = next();
        } else {
            rest.push_back(arg);
        }
    }
    if (ignoreTerm) {
        std::signal(SIGTERM, SIG_IGN);
    }
    std::string pids = std::to_string(::getpid()) + "\n";
    if (grandchild) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGTERM, SIG_IGN);
            sleepForever();
        }
        pids += std::to_string(child) + "\n";
    }
    if (!pidfile.empty()) {
        std::ofstream(pidfile) << pids;
    }
    std::ofstream log;
    if (!record.empty()) {
        log.open(record);
        for (std::size_t i = 0; i < rest.size(); ++i) {
            log << (i ? " " : "") << rest[i];
        }
        log << "\n" << std::flush;
    }
    if (closeInput) {
        ::close(STDIN_FILENO);
        sleepForever();
    }

    // Read the requests: up to the hook list (the third line), as Codex would.
    std::string pending;
    int lines = 0;
    char buffer[4096];
    while (!noRead && lines < 3) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (log.is_open()) {
                log << pending.substr(0, end + 1) << std::flush;
            }
            pending.erase(0, end + 1);
            if (++lines == 1) {
                writeAll(R"({"id":1,"result":{"userAgent":"standin/0","codexHome":"/nowhere"}})"
                         "\n");
            }
        }
    }

    for (long i = 0; i < notifications; ++i) {
        writeAll(R"({"method":"configWarning","params":{"summary":"stand-in notice )" +
                 std::to_string(i) + R"(","details":null}})" + "\n");
    }
    pauseMs(delayMs);
    if (flood > 0) {
        writeAll(std::string(static_cast<std::size_t>(flood), 'x'));
    }
    if (!replyFile.empty()) {
        std::ifstream in(replyFile, std::ios::binary);
        const std::string reply{std::istreambuf_iterator<char>(in), {}};
        const std::size_t step = chunk > 0 ? static_cast<std::size_t>(chunk) : reply.size();
        for (std::size_t at = 0; at < reply.size(); at += step) {
            if (at > 0) {
                pauseMs(chunkDelayMs);
            }
            writeAll(reply.substr(at, step));
        }
    }

    if (then == "hang") {
        sleepForever();
    }
    if (then == "serve" && !noRead) {
        while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
    }
    return 0;
}
