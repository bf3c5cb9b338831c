#pragma once
// GCC's printf-format checks for the logging functions that take a
// template; a compiler without the attribute gets no check.

#if defined(__GNUC__)
#define VORN_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VORN_PRINTF(fmt_index, first_arg)
#endif
