#include "platform/Debug.h"

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace corvane {

void DebugPrintf(const char* format, ...)
{
    // A fixed buffer keeps this usable where allocation is not wanted; longer
    // texts are cut and keep their line end.
    char text[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return;
    size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    if (static_cast<size_t>(n) >= sizeof text && length > 0)
        text[length - 1] = '\n';
    // One write per message so that lines from several threads do not mix.
    ssize_t written = ::write(STDERR_FILENO, text, length);
    (void)written;
}

} // namespace corvane
