// fopen_s and fread_s where the C runtime lacks them (see crt.h).
#include "crt.h"

#include <cerrno>

#ifndef _WIN32
errno_t fopen_s(FILE** stream, const char* fileName, const char* mode)
{
    if (stream == nullptr)
        return EINVAL;
    *stream = nullptr;
    if (fileName == nullptr || mode == nullptr)
        return EINVAL;
    *stream = std::fopen(fileName, mode);
    return *stream != nullptr ? 0 : (errno != 0 ? errno : ENOENT);
}
#endif

#ifndef _MSC_VER
extern "C" size_t __cdecl fread_s(void* buffer, size_t bufferSize, size_t elementSize,
                                  size_t count, FILE* stream)
{
    if (elementSize == 0 || count == 0)
        return 0;
    if (buffer == nullptr || stream == nullptr) {
        errno = EINVAL;
        return 0;
    }
    if (count > bufferSize / elementSize) {
        errno = ERANGE;
        return 0;
    }
    return std::fread(buffer, elementSize, count, stream);
}
#endif
