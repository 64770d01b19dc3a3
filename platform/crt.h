// The C runtime's bounds-checking file routines, where the runtime lacks them.
//
// glibc has neither fopen_s nor fread_s; msvcrt.dll (what the windows build
// links against) has fopen_s but no fread_s. The missing ones are provided here
// with the semantics of the Windows originals.
#pragma once

#include <cstddef>
#include <cstdio>

#ifndef _WIN32
#define __cdecl
typedef int errno_t;
// Opens a file; 0 and *stream set on success, an errno value and *stream null on failure.
errno_t fopen_s(FILE** stream, const char* fileName, const char* mode);
#endif

// Reads up to count elements of elementSize bytes into buffer, whose size in
// bytes is bufferSize. The size is checked before anything is read: if the
// request does not fit, nothing is read and 0 is returned. Returns the number
// of whole elements read.
#ifndef _MSC_VER  // the Visual C++ runtime has its own
extern "C" size_t __cdecl fread_s(void* buffer, size_t bufferSize, size_t elementSize,
                                  size_t count, FILE* stream);
#endif
