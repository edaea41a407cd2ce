#pragma once

#include <string>
#include <vector>

#include "app/BackgroundThreads.hpp"
#include "app/PrivilegedRequest.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// The child process behind an administrator prompt: started with no input and both
// output streams in one pipe; a background thread drains the pipe, waits for the
// child and hands its answer to the main queue. Each prompt says what the exit status
// and the text mean.
class PromptProcess {
  public:
    struct Answer {
        bool success;
        std::string text;
    };
    // Turns the child's exit status and its output into the prompt's answer.
    using Reading = Answer (*)(int status, std::string output);

    explicit PromptProcess(Scheduler& mainQueue) : mainQueue_(mainQueue) {}

    // Runs `words` (the program's path first). `done` runs exactly once, on the main
    // queue, also when the child cannot be started.
    void run(std::vector<std::string> words, Reading reading, PrivilegedRequest::Done done);

  private:
    Scheduler& mainQueue_;
    BackgroundThreads waiters_; // last member: joined before the others go
};

} // namespace vesperon
