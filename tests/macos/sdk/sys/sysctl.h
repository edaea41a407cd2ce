#pragma once
// sys/sysctl.h with the parts of struct kinfo_proc that we read (declarations only).
#include <stddef.h>
#include <sys/time.h>
#include <sys/types.h>

extern "C" {

#define CTL_KERN 1
#define KERN_PROC 14
#define KERN_PROC_PID 1

struct extern_proc {
    struct timeval p_starttime; // a macro for p_un.__p_starttime in the real header
    pid_t p_pid;
};

struct kinfo_proc {
    struct extern_proc kp_proc;
};

int sysctl(int* name, unsigned int namelen, void* oldp, size_t* oldlenp, void* newp, size_t newlen);
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

}
