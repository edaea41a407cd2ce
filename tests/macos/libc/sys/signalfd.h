#error "<sys/signalfd.h> is Linux's; macOS has no such header"
