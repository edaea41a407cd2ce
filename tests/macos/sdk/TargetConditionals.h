// <TargetConditionals.h>: which Apple system a file is built for (here always macOS);
// the host's ICU headers read it.
#pragma once
#define TARGET_OS_MAC 1
#define TARGET_OS_OSX 1
#define TARGET_OS_IPHONE 0
