#include "agents/CodexHookTrust.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "agents/AgentHookSettings.hpp"
#include "common/ChildProcess.hpp"
#include "common/UntrustedJson.hpp"
#include "platform/UserHome.hpp"

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
            std::string candidate = path.substr(start, colon - start) + "/codex";
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

    // The Codex app server leads its own process group: however the check ends, it is
    // taken down with everything it started when `server` goes.
    auto server = ChildProcess::start(ChildSpec{.path = *codex,
                                                .arguments = {"app-server", "--listen", "stdio://"},
                                                .environment = std::nullopt,
                                                .input = ChildSpec::Input::Pipe,
                                                .output = ChildSpec::Output::StandardOutput,
                                                .workingFolder = {}});
    if (!server) {
        return unavailable(notLaunchedMessage);
    }
    // One deadline for the whole exchange, writing included: a Codex that neither
    // reads nor answers is stopped after the same five seconds.
    const auto deadline =
        ChildProcess::Clock::now() + std::chrono::duration_cast<ChildProcess::Clock::duration>(
                                         std::chrono::duration<double>(timeoutSeconds));
    if (!server->send(*requests, deadline)) {
        return unavailable(notRequestedMessage);
    }

    std::string buffer;
    std::size_t lineStart = 0;
    std::array<char, 4096> chunk{};
    while (true) {
        const std::size_t got = server->receive(chunk.data(), chunk.size(), deadline);
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
