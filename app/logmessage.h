#pragma once

// The one diagnostic line writer of every unit: "<unit>_<line>]  " followed by
// the caller's message, which carries its own "\n". Safe from any thread: the
// prefix and the message of one call are never split by another thread's line.
void LogMessage(const char* unit, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
