#error "<sys/prctl.h> is Linux's; macOS has no such header"
