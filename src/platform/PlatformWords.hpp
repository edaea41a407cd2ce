#pragma once

// The words shown to a user that name this platform's own things (`machine`,
// `statusArea`, `waitingForAuthorization`, `cannotStartAdvice`, `sleepSettingUnreadable`
// in vesperon::platformWords), each platform's in its own folder. A Linux build says
// what is true there; the sandbox stands in for a Mac and keeps the Mac's words.
#if defined(VESPERON_PLATFORM_LINUX)
#include "platform/linux/LinuxWords.hpp"
#else
#include "platform/macos/MacWords.hpp"
#endif
