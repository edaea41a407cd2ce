// <sys/prctl.h> is Linux's; macOS has no such header.
#error "<sys/prctl.h> does not exist on macOS"
