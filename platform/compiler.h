// What differs between compilers, behind one name each.
#pragma once

// Lets the compiler check a printf-style function's arguments against its
// format (argument formatIndex is the format, the values start at firstArg).
#if defined(__MINGW32__)
// mingw's own printf takes the C99 formats only with its ANSI stdio.
#define KELVANE_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(gnu_printf, formatIndex, firstArg)))
#elif defined(__GNUC__)
#define KELVANE_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KELVANE_PRINTF_FORMAT(formatIndex, firstArg)
#endif
