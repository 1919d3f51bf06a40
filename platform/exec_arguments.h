#pragma once
// The argument vector of an execl-style call: arg and the further arguments
// up to the null pointer, then the null pointer. Both backends' execl use it.

#include <cstdarg>
#include <vector>

inline std::vector<char*> ExecArguments(const char* arg, va_list more)
{
    std::vector<char*> argv;
    if (arg) {
        argv.push_back(const_cast<char*>(arg));
        while (const char* next = va_arg(more, const char*))
            argv.push_back(const_cast<char*>(next));
    }
    argv.push_back(nullptr);
    return argv;
}
