#error "<sys/pidfd.h> is Linux's; macOS has no such header"
