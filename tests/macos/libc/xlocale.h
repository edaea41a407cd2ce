// Darwin declares the locale-taking forms (strtod_l, newlocale ...) in <xlocale.h>;
// glibc has the same functions in <stdlib.h> and <locale.h>.
#pragma once
#include <locale.h>
#include <stdlib.h>
