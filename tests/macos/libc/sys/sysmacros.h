#error "<sys/sysmacros.h> is Linux's; macOS has no such header"
