#error "<sys/epoll.h> is Linux's; macOS has no such header"
