// <sys/timerfd.h> is Linux's; macOS has no such header.
#error "<sys/timerfd.h> does not exist on macOS"
