#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace vesperon::tools {

// The one AppleScript statement the administrator prompt stand-in understands:
//   do shell script "<string literal>" with administrator privileges
// Returns the shell command held by the literal (escapes \\ \" \n \r \t undone), or
// a one-line reason why the source is not that statement.
std::expected<std::string, std::string> parseAdminShellScript(std::string_view source);

} // namespace vesperon::tools
