#pragma once
// The recorder's screen as the simulator's screenshots show it, and the
// places on it that the tests look at.

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel

    bool Empty() const { return width <= 0 || height <= 0; }
};

struct Area {
    int x, y, w, h;
};

// Places on the 320x240 screen.
namespace area {
constexpr Area kMessage{11, 65, 298, 114};
constexpr Area kPlayButton{74, 196, 56, 44};
constexpr Area kRecordButton{190, 196, 56, 44};
constexpr Area kListButton{277, 196, 43, 44};
constexpr Area kButtons{74, 196, 246, 44};
constexpr Area kCounter{162, 81, 126, 43};
constexpr Area kClockMinute{252, 11, 17, 11};
constexpr Area kBattery{293, 9, 23, 15};
constexpr Area kHold{212, 11, 11, 11};
constexpr Area kVersion{4, 204, 66, 28};
}  // namespace area

// A screenshot the simulator wrote as .bmp; empty when there is none.
Image ReadBmp(const std::string& path);
// A PNG image of the recorder's resources; empty when it cannot be read.
Image ReadPng(const std::string& path);

// The same pixels in this area of both images.
bool SameArea(const Image& a, const Image& b, const Area& area);

// Which frame of the message strip the message box shows in a screenshot:
// 0 .. 6, or -1 when it shows none of them.
int ShownMessage(const Image& shot, const Image& strip);

// The message strip of the English screen.
Image MessageStrip();

}  // namespace e2e
