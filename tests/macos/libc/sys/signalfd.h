// <sys/signalfd.h> is Linux's; macOS has no such header.
#error "<sys/signalfd.h> does not exist on macOS"
