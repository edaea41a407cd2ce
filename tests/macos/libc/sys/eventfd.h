// <sys/eventfd.h> is Linux's; macOS has no such header.
#error "<sys/eventfd.h> does not exist on macOS"
