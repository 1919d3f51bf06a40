#pragma once
// What a state of the recorder may cost the handheld's devices: the platform
// calls a second its work needs, four times over, so that no machine's pace
// nears it and a thread that spins (thousands a second) is far beyond it.
// Every state pays the status tick (two GPIO reads a second); a recording
// moves about 22 blocks a second (a poll and two reads of the DSP each) and
// writes four rounds to the card (a write or two, a sync, a seek, the
// header, a seek); a playback polls and writes the DSP and reads the file
// for each block; 10 more for the capture's timeouts and the odd start or
// end of a run.

namespace support {

inline double CallsBound(bool recording, bool playing)
{
    constexpr double kBlocks = 88200.0 / 4096;
    double work = 2 + 10;
    if (recording)
        work += 3 * kBlocks + 6 * 4;
    if (playing)
        work += 3 * kBlocks;
    return 4 * work;
}

}  // namespace support
