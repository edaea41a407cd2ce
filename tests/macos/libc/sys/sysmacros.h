// <sys/sysmacros.h> is Linux's; macOS has no such header.
#error "<sys/sysmacros.h> does not exist on macOS"
