// <sys/inotify.h> is Linux's; macOS has no such header.
#error "<sys/inotify.h> does not exist on macOS"
