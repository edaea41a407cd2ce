#include "app/PromptProcess.hpp"

#include <limits>
#include <memory>

#include "common/ChildProcess.hpp"
#include "common/Utf8Text.hpp"

namespace vesperon {

void PromptProcess::run(std::vector<std::string> words, Reading reading,
                        PrivilegedRequest::Done done) {
    std::vector<std::string> arguments(words.begin() + 1, words.end());
    auto started = ChildProcess::start(ChildSpec{.path = words.front(),
                                                 .arguments = std::move(arguments),
                                                 .environment = std::nullopt,
                                                 .input = ChildSpec::Input::None,
                                                 .output = ChildSpec::Output::Combined,
                                                 .workingFolder = {}});
    if (!started) {
        // Answered through the main queue too, so the caller never sees its callback
        // run inside its own call.
        mainQueue_.post([done = std::move(done), message = started.error().message] {
            done(false, "The administrator prompt could not be opened: " + message);
        });
        return;
    }
    auto child = std::make_shared<ChildProcess>(std::move(*started));
    waiters_.start([this, child, reading, done = std::move(done)]() mutable {
        // The prompt waits for the user as long as the user takes. Its helper prints a
        // few short lines; output that is not UTF-8 counts as no text.
        ChildProcess::Outcome outcome =
            child->collect(ChildProcess::Limits{.seconds = std::numeric_limits<double>::infinity(),
                                                .maxOutputBytes = std::size_t{1024} * 1024});
        if (!isValidUtf8(outcome.output)) {
            outcome.output.clear();
        }
        mainQueue_.post([done = std::move(done),
                         answer = reading(outcome.exitCodeOrSignal(), std::move(outcome.output))] {
            done(answer.success, answer.text);
        });
    });
}

} // namespace vesperon
