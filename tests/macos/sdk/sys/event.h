#pragma once
// sys/event.h (declarations only), and O_EVTONLY, which the real SDK has in fcntl.h.
#include <stdint.h>
#include <time.h>

extern "C" {

struct kevent {
    uintptr_t ident;
    int16_t filter;
    uint16_t flags;
    uint32_t fflags;
    intptr_t data;
    void* udata;
};

// A macro in the real header, with the same casts.
static inline void EV_SET(struct kevent* kevp, uintptr_t ident, int filter, int flags,
                          uint32_t fflags, intptr_t data, void* udata) {
    *kevp = {ident, (int16_t)filter, (uint16_t)flags, fflags, data, udata};
}

#define EVFILT_VNODE (-4)
#define EVFILT_PROC (-5)
#define EV_ADD 0x0001
#define EV_ONESHOT 0x0010
#define EV_CLEAR 0x0020
#define NOTE_WRITE 0x00000002
#define NOTE_EXIT 0x80000000

#ifndef O_EVTONLY
#define O_EVTONLY 0x00008000
#endif

int kqueue(void);
int kevent(int kq, const struct kevent* changelist, int nchanges, struct kevent* eventlist,
           int nevents, const struct timespec* timeout);
}
