#error "<sys/inotify.h> is Linux's; macOS has no such header"
