#include "platform/linux/PkexecRequest.hpp"

namespace vesperon {

PkexecRequest::PkexecRequest(Scheduler& mainQueue, std::string pkexecPath,
                             std::string executablePath)
    : process_(mainQueue), pkexecPath_(std::move(pkexecPath)),
      executablePath_(std::move(executablePath)) {}

PkexecRequest::Answer PkexecRequest::answer(int status, std::string output) {
    if (status == dismissedStatus) {
        return {false, "Authorization was cancelled."};
    }
    if (status == notAuthorizedStatus) {
        std::string text = "Not authorized: an administrator's password is needed to change the "
                           "sleep settings.";
        if (output.find("Not authorized") == std::string::npos && !output.empty()) {
            text += "\n" + output; // why pkexec could not ask (no agent, no action, …)
        }
        return {false, text};
    }
    return {status == 0, std::move(output)};
}

void PkexecRequest::auth(const std::vector<std::string>& arguments, Done done) {
    // pkexec takes the command as separate words: no shell, no quoting.
    std::vector<std::string> words{pkexecPath_, executablePath_};
    words.insert(words.end(), arguments.begin(), arguments.end());
    process_.run(std::move(words), &answer, std::move(done));
}

} // namespace vesperon
