#error "<sys/timerfd.h> is Linux's; macOS has no such header"
