#pragma once
// The simulated handheld as every in-process test starts: card in with room
// to spare and no stalls, GPIO driver there, HOLD off, battery full, sound
// card a plain driver that takes every setting, microphone `mic`.

#include <string>
#include <vector>

namespace support {

void ResetHandheld(const std::string& mic = "tone");

// Where the recorder keeps its recordings on the handheld.
constexpr const char* kRecordFolder = "/mnt/sd/music/rec";
// The recordings on the simulated card, as paths of this PC, sorted.
std::vector<std::string> Recordings();

}  // namespace support
