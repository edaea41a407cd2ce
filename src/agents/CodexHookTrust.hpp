#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace vesperon {

// What the locally installed Codex says about the hooks Vesperon put into its
// hooks file: Codex runs them only once the user has reviewed and trusted them.
class CodexHookTrust {
  public:
    enum class Kind { Unavailable, Trusted, NeedsReview };

    // Where to look for Codex. The fixed places come first, then every folder of
    // the search path (":"-separated, empty parts skipped) with "/codex" appended.
    struct Search {
        std::vector<std::string> fixedCandidates = defaultFixedCandidates();
        // The search path; nothing = the PATH environment variable (absent = empty).
        std::optional<std::string> path;
    };

    static CodexHookTrust unavailable(std::string message) {
        return {Kind::Unavailable, std::move(message)};
    }
    static CodexHookTrust trusted() { return {Kind::Trusted, {}}; }
    static CodexHookTrust needsReview() { return {Kind::NeedsReview, {}}; }

    Kind kind() const { return kind_; }
    // The sentence shown to the user; empty unless unavailable.
    const std::string& message() const { return message_; }
    friend bool operator==(const CodexHookTrust&, const CodexHookTrust&) = default;

    // Starts "codex app-server --listen stdio://", asks for the hooks of `cwd`
    // (nothing = the user's home folder) and classifies the answer. Blocks for at
    // most about 5 seconds; the child is always gone (killed and reaped, with any
    // process it started) when this returns. Never throws; run it off the main thread.
    static CodexHookTrust check(std::string_view executablePath,
                                std::optional<std::string> cwd = std::nullopt);
    // The same, looking for Codex where `search` says.
    static CodexHookTrust check(std::string_view executablePath, std::optional<std::string> cwd,
                                const Search& search);

    // Classifies one decoded JSON-RPC response to the hook list request.
    static CodexHookTrust assess(const nlohmann::json& response, std::string_view command);

    // The first candidate that is an executable regular file.
    static std::optional<std::string> findCodex(const Search& search);
    static std::vector<std::string> defaultFixedCandidates();

    // The command our Codex hooks run, exactly as written into the hooks file.
    static std::string hookCommand(std::string_view executablePath);

    // Time the whole exchange may take, and the most output kept while waiting.
    static constexpr double timeoutSeconds = 5.0;
    static constexpr std::size_t maximumOutputBytes = 1'048'576;

  private:
    CodexHookTrust(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

} // namespace vesperon
