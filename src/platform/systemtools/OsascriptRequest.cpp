#include "platform/systemtools/OsascriptRequest.hpp"

#include "common/Quoting.hpp"

namespace vesperon {

OsascriptRequest::OsascriptRequest(Scheduler& mainQueue, std::string osascriptPath,
                                   std::string executablePath)
    : process_(mainQueue), osascriptPath_(std::move(osascriptPath)),
      executablePath_(std::move(executablePath)) {}

std::string OsascriptRequest::script(const std::string& executablePath,
                                     const std::vector<std::string>& arguments) {
    std::string command = shellQuote(executablePath);
    for (const std::string& argument : arguments) {
        command += ' ';
        command += shellQuote(argument);
    }
    return "do shell script " + appleQuote(command) + " with administrator privileges";
}

void OsascriptRequest::auth(const std::vector<std::string>& arguments, Done done) {
    process_.run({osascriptPath_, "-e", script(executablePath_, arguments)}, &answer,
                 std::move(done));
}

PromptProcess::Answer OsascriptRequest::answer(int status, std::string output) {
    return {status == 0, std::move(output)};
}

} // namespace vesperon
