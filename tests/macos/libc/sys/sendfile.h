// <sys/sendfile.h> is Linux's; macOS has no such header.
#error "<sys/sendfile.h> does not exist on macOS"
