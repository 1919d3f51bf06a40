// The layout table: every piece of the skin and help images, and every place on
// the 320x240 screen where one lands. Nothing here depends on the size of the
// loaded images; a smaller image only yields clipped blits.

#include "ui/layout.h"

#include "view/recorderview.h"

namespace {

SDL_Rect Rect(int x, int y, int w, int h)
{
    SDL_Rect r;
    r.x = static_cast<Sint16>(x);
    r.y = static_cast<Sint16>(y);
    r.w = static_cast<Uint16>(w);
    r.h = static_cast<Uint16>(h);
    return r;
}

// Glyph rows of the skin: pieces of one size laid side by side.
constexpr int kSmallRowY = 247;
constexpr int kSpareIconW = 11;
constexpr int kSmallDigitX = 55;
constexpr int kSmallDigitW = 8;
constexpr int kSmallGlyphH = 11;
constexpr int kBatteryIconX = 179;
constexpr int kBatteryIconW = 23;
constexpr int kBatteryIconH = 15;
constexpr int kBigRowY = 220;
constexpr int kBigDigitX = 320;
constexpr int kBigDigitW = 19;
constexpr int kBigGlyphH = 43;
constexpr int kMessageFrameW = 298;
constexpr int kMessageFrameH = 114;

}  // namespace

void CRecorderView::InitLayout()
{
    using namespace layout;

    // The help image: the page, and below it a 33-pixel strip of pieces.
    rects[help_page_src] = Rect(0, 0, 320, 240);
    rects[help_close_strip] = Rect(0, 240, 216, 33);
    rects[help_corner_src] = Rect(274, 240, 31, 33);
    rects[help_header_src] = Rect(216, 240, 58, 33);

    // Skin background bands.
    rects[skin_middle_src] = Rect(0, 39, 320, 163);
    rects[skin_top_src] = Rect(0, 0, 320, 39);
    rects[skin_bottom_src] = Rect(0, 202, 320, 45);
    rects[skin_corner_src] = Rect(492, 0, 31, 33);

    // Small glyph row.
    for (int k = 0; k < 5; ++k)
        rects[spare_icon_src + k] = Rect(kSpareIconW * k, kSmallRowY, kSpareIconW, kSmallGlyphH);
    rects[hold_icon_src] = Rect(294, kSmallRowY, 11, kSmallGlyphH);
    for (int d = 0; d < 10; ++d)
        rects[small_digit_src + d] =
            Rect(kSmallDigitX + kSmallDigitW * d, kSmallRowY, kSmallDigitW, kSmallGlyphH);
    rects[small_colon_src] = Rect(135, kSmallRowY, 8, kSmallGlyphH);
    rects[am_src] = Rect(143, kSmallRowY, 18, kSmallGlyphH);
    rects[pm_src] = Rect(161, kSmallRowY, 18, kSmallGlyphH);
    // Five icons; the battery level only ever selects the first four.
    for (int i = 0; i < 5; ++i)
        rects[battery_icon_src + i] =
            Rect(kBatteryIconX + kBatteryIconW * i, kSmallRowY, kBatteryIconW, kBatteryIconH);

    // Big glyph row of the elapsed-time counter.
    for (int d = 0; d < 10; ++d)
        rects[big_digit_src + d] =
            Rect(kBigDigitX + kBigDigitW * d, kBigRowY, kBigDigitW, kBigGlyphH);
    rects[big_colon_src] = Rect(510, kBigRowY, 6, kBigGlyphH);

    // Button strips, four frames each. The stop strip is the second state of
    // both the play and the record button.
    rects[play_button_strip] = Rect(320, 44, 224, 44);
    rects[stop_button_strip] = Rect(320, 132, 224, 44);
    rects[record_button_strip] = Rect(320, 176, 224, 44);
    rects[list_button_strip] = Rect(320, 0, 172, 44);

    // Frames of the message images, which the message box cuts on its own.
    for (int k = 0; k < 7; ++k)
        rects[message_frame_src + k] = Rect(0, kMessageFrameH * k, kMessageFrameW, kMessageFrameH);

    // Screen destinations. A blit reads only x and y of these.
    rects[help_page_dst] = Rect(0, 0, 320, 240);
    rects[help_corner_dst] = Rect(0, 0, 320, 240);
    rects[help_header_dst] = Rect(31, 0, 320, 240);
    rects[skin_middle_dst] = Rect(0, 33, 320, 163);
    rects[skin_top_dst] = Rect(0, 0, 320, 39);
    rects[skin_bottom_dst] = Rect(0, 195, 320, 45);
    rects[skin_corner_dst] = Rect(0, 0, 31, 33);
    rects[spare_icon_dst] = Rect(197, 11, 11, 11);
    rects[hold_icon_dst] = Rect(212, 11, 11, 11);
    // Clock HH:MM.
    rects[clock_digit_dst + 0] = Rect(227, 11, 8, 11);
    rects[clock_digit_dst + 1] = Rect(236, 11, 8, 11);
    rects[clock_digit_dst + 2] = Rect(252, 11, 8, 11);
    rects[clock_digit_dst + 3] = Rect(261, 11, 8, 11);
    rects[clock_colon_dst] = Rect(244, 11, 8, 11);
    rects[am_pm_dst] = Rect(272, 11, 18, 11);
    rects[battery_icon_dst] = Rect(293, 9, 23, 15);
    // Counter HH:MM:SS, digits and colons edge to edge.
    rects[counter_digit_dst + 0] = Rect(162, 81, 19, 43);
    rects[counter_digit_dst + 1] = Rect(181, 81, 19, 43);
    rects[counter_digit_dst + 2] = Rect(206, 81, 19, 43);
    rects[counter_digit_dst + 3] = Rect(225, 81, 19, 43);
    rects[counter_digit_dst + 4] = Rect(250, 81, 19, 43);
    rects[counter_digit_dst + 5] = Rect(269, 81, 19, 43);
    rects[counter_colon_dst + 0] = Rect(200, 81, 6, 43);
    rects[counter_colon_dst + 1] = Rect(244, 81, 6, 43);
    rects[spare_area_dst] = Rect(26, 79, 268, 82);
}
