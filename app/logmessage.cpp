#include "app/logmessage.h"

#include <cstdarg>
#include <cstdio>

void LogMessage(const char* unit, int line, const char* format, ...)
{
    flockfile(stdout);
    std::printf("%s_%4d]  ", unit, line);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    funlockfile(stdout);
}
