#error "<sys/fanotify.h> is Linux's; macOS has no such header"
