#pragma once
// The handheld's settings library: one settings file open at a time.

// Opens and reads the file at a handheld path. 1 when it was read, 0 when not
// (reads then answer their defaults).
int INI_Open(const char* path);
// The text of key in section, or default_text when the file, the section or
// the key is missing. The pointer stays valid until INI_Close or the next
// INI_Open.
const char* INI_ReadText(const char* section, const char* key, const char* default_text);
void INI_Close();
