// <sys/pidfd.h> is Linux's; macOS has no such header.
#error "<sys/pidfd.h> does not exist on macOS"
