#pragma once

#include <expected>
#include <string>
#include <vector>

namespace vesperon::tools {

// A job file as the service manager stand-in understands it: the keys a launchd
// daemon's property list uses for a simple always-on job.
struct JobDefinition {
    std::string path;                          // the job file it was read from
    std::string label;                         // "Label"
    std::vector<std::string> programArguments; // "ProgramArguments"; [0] is the program
    bool runAtLoad = false;                    // "RunAtLoad"
    bool keepAlive = false;                    // "KeepAlive" (boolean form only)
    int throttleInterval = 10;                 // "ThrottleInterval", seconds between starts
};

// Reads and checks a job file: owned by root and not writable by group or others,
// at most 1 MiB, an XML or binary property list holding a dictionary with a Label and
// a non-empty ProgramArguments array of strings. The error is a one-line reason.
std::expected<JobDefinition, std::string> loadJobDefinition(const std::string& path);

// Checks the property-list bytes alone (no file checks); used by loadJobDefinition.
std::expected<JobDefinition, std::string> parseJobDefinition(const std::string& bytes);

} // namespace vesperon::tools
