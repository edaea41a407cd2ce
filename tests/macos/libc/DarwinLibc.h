// The C library as a Mac offers it, made from the host's glibc headers (scripts/check-macos
// includes this first): Linux-only names taken away, the Darwin names our files use added
// with the values and signatures of Apple's headers.
#pragma once

// Every glibc header that declares one of the names below, read once before they are
// poisoned (their include guards keep later includes from declaring them again).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

extern "C" {

// <sys/stat.h>: the times are st_[amc]timespec; st_[amc]time read their seconds.
#define st_atimespec st_atim
#define st_mtimespec st_mtim
#define st_ctimespec st_ctim

// <spawn.h>: a spawned process inherits only the descriptors its file actions name.
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000
int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t*, int);

// <sys/socket.h>: a socket that never raises SIGPIPE (macOS has no MSG_NOSIGNAL).
#define SO_NOSIGPIPE 0x1022
}

// Linux's flags and clocks: macOS has none of them, so a file that names one fails to
// compile and a feature test (#if defined(O_PATH)) takes the Mac's branch.
#undef SOCK_CLOEXEC
#undef SOCK_NONBLOCK
#undef O_PATH
#undef O_TMPFILE
#undef O_DIRECT
#undef O_NOATIME
#undef CLOCK_BOOTTIME
#undef CLOCK_BOOTTIME_ALARM
#undef CLOCK_REALTIME_ALARM
#undef CLOCK_MONOTONIC_COARSE
#undef CLOCK_REALTIME_COARSE
#undef MSG_NOSIGNAL
#undef MSG_CMSG_CLOEXEC
#undef AT_EMPTY_PATH
#undef RENAME_NOREPLACE
#undef RENAME_EXCHANGE

// Linux's calls and fields (st_mtime and the macros above expand to the fields unharmed).
#pragma clang poison pipe2 accept4 dup3 close_range
#pragma clang poison posix_spawn_file_actions_addclosefrom_np
#pragma clang poison getrandom memfd_create renameat2 statx sendfile vmsplice
#pragma clang poison strchrnul mempcpy rawmemchr program_invocation_name
#pragma clang poison program_invocation_short_name get_current_dir_name
#pragma clang poison ppoll syncfs fallocate
#pragma clang poison st_mtim st_atim st_ctim
// glibc names these flags in an enum as well as by macro.
#pragma clang poison SOCK_CLOEXEC SOCK_NONBLOCK MSG_NOSIGNAL MSG_CMSG_CLOEXEC
