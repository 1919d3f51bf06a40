#pragma once
// The SD card as recordings need it: the write probe, the recordings folder,
// the name of a new recording, and the removal of one that failed.

#include <chrono>
#include <cstddef>
#include <functional>

class CardChores;

// 0 when the SD card takes the write probe, -1 otherwise (logged).
int CheckSdWritable();

// The recordings folder is there, made if missing; false (logged) when it
// cannot be.
bool MakeRecordFolder();

// What the card answers before a recording: no card in the slot, as
// `card_absent` (the GPIO driver) tells (kAbsent), the probe taken and the
// folder there (kReady), a refusal (logged), or no answer within `wait`
// (kBusy, logged): a stalled card or driver, which the recording's writer
// waits out on its own while the sound is kept. The work goes on on the
// chores' thread, so the main thread never waits in a driver.
enum class CardAnswer { kAbsent, kReady, kRefused, kBusy };
CardAnswer PrepareCard(CardChores& chores, std::function<bool()> card_absent,
                       std::chrono::milliseconds wait);

// A new recording's path, from the local time; a second recording within the
// same second must not replace the first, so the name moves on a second at a
// time until it is free.
void NameNewRecording(char* path, size_t size);

// Removes a recording from the card and empties the path that named it
// (nothing when the path is empty). The path is emptied at once; the card
// work is the chores'.
void RemoveRecording(CardChores& chores, char* path);
