#pragma once
// The SD card as recordings need it: the write probe, the recordings folder,
// the name of a new recording, and the removal of one that holds no sound.

#include <cstddef>

// 0 when the SD card takes the write probe, -1 otherwise (logged).
int CheckSdWritable();

// The recordings folder is there, made if missing; false (logged) when it
// cannot be.
bool MakeRecordFolder();

// A new recording's path, from the local time; a second recording within the
// same second must not replace the first, so the name moves on a second at a
// time until it is free.
void NameNewRecording(char* path, size_t size);

// Removes a recording from the card and empties the path that named it
// (nothing when the path is empty).
void RemoveRecording(char* path);

// A recording that ended with no sound leaves no file and is no play target:
// when the audio stream took in no sound at all, a file of no more than its
// header is removed and the path emptied. (The file's size alone would not
// do: a stalled card may still be catching up with sound it will get.)
void ForgetEmptyRecording(char* path, long long captured_bytes);
