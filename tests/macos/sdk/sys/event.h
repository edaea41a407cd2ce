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

#define EV_SET(kevp, a, b, c, d, e, f)                                                             \
    do {                                                                                           \
        struct kevent* __kevp__ = (kevp);                                                          \
        __kevp__->ident = (a);                                                                     \
        __kevp__->filter = (int16_t)(b);                                                           \
        __kevp__->flags = (uint16_t)(c);                                                           \
        __kevp__->fflags = (uint32_t)(d);                                                          \
        __kevp__->data = (e);                                                                      \
        __kevp__->udata = (f);                                                                     \
    } while (0)

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
