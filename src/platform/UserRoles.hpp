#pragma once

namespace vesperon {

// The application and the two renderers act for the logged-in user and never run as
// root: a root process that loads the display module, or writes an image wherever
// its caller points it, is what an administrator prompt could be turned into. When
// the effective user is root, this prints why `role` does not run on standard error
// and answers true. (The hook endpoint, which agents run as whoever runs them, and
// the diagnostic printer, which changes nothing, run for anyone.)
//
// Sandbox builds let root run them: their machines are driven by root in test
// containers, and no administrator prompt reaches them.
[[nodiscard]] bool refusedAsRoot(const char* role);

} // namespace vesperon
