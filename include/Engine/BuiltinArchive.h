#pragma once
// The ustar image of the built-in files, packed from data/archive/ at build time and linked into the program
// (library target BuiltinArchive). Read it through a read-only CMemoryStream and a CTARArchive.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

extern const unsigned char g_BuiltinArchive[];
extern const size_t g_BuiltinArchiveSize;

#ifdef __cplusplus
}
#endif
