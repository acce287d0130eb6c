/* Stands in, with minwindef.h beside this folder, for the Windows SDK's behaviour: libstdc++ for
   mingw-w64 defines NOMINMAX for every program that includes a standard header, which hides a
   source that forgot it. Only a NOMINMAX the source or the build asked for stays. */
#ifdef NOMINMAX
#define ZORVIK_NOMINMAX_ASKED
#endif
#include_next <bits/os_defines.h>
#ifndef ZORVIK_NOMINMAX_ASKED
#undef NOMINMAX
#endif
