// <sys/fanotify.h> is Linux's; macOS has no such header.
#error "<sys/fanotify.h> does not exist on macOS"
