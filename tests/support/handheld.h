#pragma once
// The simulated handheld as every in-process test starts: card in with room
// to spare and no stalls, GPIO driver there, HOLD off, battery full, sound
// card a plain driver that takes every setting, microphone `mic`.

#include <string>

namespace support {

void ResetHandheld(const std::string& mic = "tone");

}  // namespace support
