// The few Microsoft C runtime names the launcher's portable modules use, mapped
// onto glibc's, so that those modules build natively for fuzzing. Given to the
// compiler with -include; the Windows build never sees it.
#pragma once

#include <locale.h>
#include <stdlib.h>

#define _locale_t locale_t
#define _create_locale(category, name) newlocale(LC_NUMERIC_MASK, name, (locale_t)0)
#define _strtod_l strtod_l
