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
    // Out at once, line by line: standard output is often a file or a pipe,
    // where the C library would hold the lines back, and a crash, a kill, a
    // power cut or the exec of the menu program would lose the last of them,
    // those that tell why.
    std::fflush(stdout);
    funlockfile(stdout);
}
