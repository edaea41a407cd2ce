#pragma once
// mach-o/dyld.h (declarations only).
#include <stdint.h>

extern "C" {

int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

}
