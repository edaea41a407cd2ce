#error "<sys/sendfile.h> is Linux's; macOS has no such header"
