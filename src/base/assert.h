#pragma once

// The one project assertion: on in Debug and sanitizer builds, compiled out otherwise.
#if defined(ZORVIK_ASSERTS) && ZORVIK_ASSERTS
#include <cstdio>
#include <cstdlib>
#define ZV_ASSERT(cond)                                                                                      \
    do                                                                                                       \
    {                                                                                                        \
        if (!(cond))                                                                                         \
        {                                                                                                    \
            std::fprintf(stderr, "%s:%d: assertion failed: %s\n", __FILE__, __LINE__, #cond);                \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
#else
#define ZV_ASSERT(cond) static_cast<void>(0)
#endif
