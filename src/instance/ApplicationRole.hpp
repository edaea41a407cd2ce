#pragma once

namespace vesperon {

// The menu-bar application: the first instance of this user claims the instance and
// runs the application; a later start hands its URLs (the arguments after the
// executable) to the running one and ends with status 0.
[[nodiscard]] int applicationRole(int argc, char** argv);

} // namespace vesperon
