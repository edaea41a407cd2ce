#error "<sys/eventfd.h> is Linux's; macOS has no such header"
