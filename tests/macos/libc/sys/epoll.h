// <sys/epoll.h> is Linux's; macOS has no such header.
#error "<sys/epoll.h> does not exist on macOS"
