#pragma once
// mach/mach_time.h and the kern_return_t of mach/kern_return.h (declarations only).
#include <stdint.h>

extern "C" {

typedef int kern_return_t;
#define KERN_SUCCESS 0

struct mach_timebase_info {
    uint32_t numer;
    uint32_t denom;
};
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef struct mach_timebase_info mach_timebase_info_data_t;

kern_return_t mach_timebase_info(mach_timebase_info_t info);
uint64_t mach_continuous_time(void);

}
