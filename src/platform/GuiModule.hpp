#pragma once

namespace vesperon {

// Loads the display module (next to the executable, else in ../lib/vesperon/ beside
// it; on a Mac, in the application bundle's Contents/Frameworks) and runs `role` (a
// VesperonGuiRole) in it. Returns the exit status; when the module cannot be loaded,
// prints one line on standard error and returns 1.
// `instanceSocket` is the application's claimed instance socket (-1 for the others).
[[nodiscard]] int runGuiModule(int role, int argc, const char* const* argv,
                               int instanceSocket = -1);

} // namespace vesperon
