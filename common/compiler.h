#pragma once
// The few compiler-specific spellings the code needs, so that it also builds
// with Microsoft's compiler.

#if defined(__GNUC__)
#define VORN_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VORN_PRINTF(fmt_index, first_arg)
#endif
