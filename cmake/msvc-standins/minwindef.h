/* Stands in for the Windows SDK's minwindef.h in the mingw-w64 build: the SDK defines the min
   and max macros in C++ too unless NOMINMAX is set, which breaks std::numeric_limits<T>::max()
   and std::min under MSVC; mingw-w64 leaves them out of C++ and would hide that. */
#include_next <minwindef.h>

#if defined(__cplusplus) && !defined(NOMINMAX)
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#endif
