// The layout table: rows follow their indexing rules, pieces tile the glyph
// rows and the screen without gaps or overlaps, and the images are as large as
// the table reaches.

#include "ui/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "view/recorderview.h"

namespace {

using namespace layout;

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override { view_.InitLayout(); }
    const SDL_Rect& At(int entry) const { return view_.rects[entry]; }
    int Right(int entry) const { return At(entry).x + At(entry).w; }   // one past
    int Bottom(int entry) const { return At(entry).y + At(entry).h; }  // one past

    // Entries laid edge to edge from left to right, in this order.
    void ExpectEdgeToEdge(const std::vector<int>& entries) const
    {
        for (size_t i = 1; i < entries.size(); ++i)
            EXPECT_EQ(Right(entries[i - 1]), At(entries[i]).x) << "entry " << entries[i];
    }

    CRecorderView view_;
};

TEST_F(LayoutTest, EveryEntryIsSet)
{
    for (int e = 0; e < kEntryCount; ++e)
        EXPECT_TRUE(At(e).w > 0 && At(e).h > 0) << "entry " << e;
}

TEST_F(LayoutTest, RowsFollowTheirIndexingRules)
{
    struct Row {
        int first, count, x0, dx, y0, dy, w, h;
    } const rows[] = {
        {spare_icon_src, 5, 0, 11, 247, 0, 11, 11},
        {small_digit_src, 10, 55, 8, 247, 0, 8, 11},
        {battery_icon_src, 5, 179, 23, 247, 0, 23, 15},
        {big_digit_src, 10, 320, 19, 220, 0, 19, 43},
        {message_frame_src, 7, 0, 0, 0, 114, 298, 114},
    };
    for (const Row& r : rows) {
        for (int k = 0; k < r.count; ++k) {
            const SDL_Rect& e = At(r.first + k);
            EXPECT_EQ(r.x0 + r.dx * k, e.x) << r.first << "+" << k;
            EXPECT_EQ(r.y0 + r.dy * k, e.y) << r.first << "+" << k;
            EXPECT_EQ(r.w, e.w) << r.first << "+" << k;
            EXPECT_EQ(r.h, e.h) << r.first << "+" << k;
        }
    }
    // Digit 9 of the counter takes x = 491..509; the colon follows at 510.
    EXPECT_EQ(491, At(big_digit_src + 9).x);
    EXPECT_EQ(509, Right(big_digit_src + 9) - 1);
    EXPECT_EQ(510, At(big_colon_src).x);
}

TEST_F(LayoutTest, GlyphRowsAreContiguous)
{
    std::vector<int> small;
    for (int e = spare_icon_src; e <= battery_icon_src + 4; ++e)
        small.push_back(e);
    std::sort(small.begin(), small.end(), [&](int a, int b) { return At(a).x < At(b).x; });
    EXPECT_EQ(0, At(small.front()).x);
    ExpectEdgeToEdge(small);
    ExpectEdgeToEdge({big_digit_src + 9, big_colon_src});
}

TEST_F(LayoutTest, ButtonStripsHoldFourWholeFrames)
{
    struct Strip {
        int entry, frame_w, frame_h;
    } const strips[] = {{play_button_strip, 56, 44},
                        {stop_button_strip, 56, 44},
                        {record_button_strip, 56, 44},
                        {list_button_strip, 43, 44},
                        {help_close_strip, 54, 33}};
    for (const Strip& s : strips) {
        EXPECT_EQ(4 * s.frame_w, At(s.entry).w) << s.entry;
        EXPECT_EQ(s.frame_h, At(s.entry).h) << s.entry;
    }
}

TEST_F(LayoutTest, ImagesAreAsLargeAsTheTableReaches)
{
    int skin_w = 0, skin_h = 0;
    for (int e = skin_middle_src; e <= list_button_strip; ++e) {
        skin_w = std::max(skin_w, Right(e));
        skin_h = std::max(skin_h, Bottom(e));
    }
    EXPECT_EQ(544, skin_w);
    EXPECT_EQ(544, Right(play_button_strip));  // the strips reach x = 543
    EXPECT_EQ(263, skin_h);
    EXPECT_EQ(263, Bottom(big_digit_src));  // the big row reaches y = 262

    int help_w = 0, help_h = 0;
    for (int e = help_page_src; e <= help_header_src; ++e) {
        help_w = std::max(help_w, Right(e));
        help_h = std::max(help_h, Bottom(e));
    }
    EXPECT_EQ(320, help_w);
    EXPECT_EQ(273, help_h);
    // The help-close strip, the header and the corner piece share the row
    // below the page, left to right.
    ExpectEdgeToEdge({help_close_strip, help_header_src, help_corner_src});
}

TEST_F(LayoutTest, ScreenPiecesLandWhereTheScreenExpectsThem)
{
    // The counter HH:MM:SS spans x = 162..287, digits and colons edge to edge.
    ExpectEdgeToEdge({counter_digit_dst + 0, counter_digit_dst + 1, counter_colon_dst + 0,
                      counter_digit_dst + 2, counter_digit_dst + 3, counter_colon_dst + 1,
                      counter_digit_dst + 4, counter_digit_dst + 5});
    EXPECT_EQ(162, At(counter_digit_dst).x);
    EXPECT_EQ(287, Right(counter_digit_dst + 5) - 1);

    // The status bar (y = 9..23): its pieces lie side by side, none overlapping.
    std::vector<int> bar = {spare_icon_dst,      hold_icon_dst,   clock_digit_dst + 0,
                            clock_digit_dst + 1, clock_colon_dst, clock_digit_dst + 2,
                            clock_digit_dst + 3, am_pm_dst,       battery_icon_dst};
    for (size_t i = 0; i < bar.size(); ++i) {
        EXPECT_GE(At(bar[i]).y, 9) << bar[i];
        EXPECT_LE(Bottom(bar[i]), 24) << bar[i];
        EXPECT_LE(Right(bar[i]), 320) << bar[i];
        if (i > 0) {
            EXPECT_LE(Right(bar[i - 1]), At(bar[i]).x) << bar[i];
        }
    }

    // The bands cover the screen down to the button row and the bottom edge;
    // the corner and the help header follow each other.
    EXPECT_EQ(196, At(skin_middle_dst).y + At(skin_middle_src).h);
    EXPECT_EQ(240, At(skin_bottom_dst).y + At(skin_bottom_src).h);
    EXPECT_EQ(At(help_corner_src).w, At(help_header_dst).x);
    EXPECT_EQ(At(skin_corner_src).w, At(skin_corner_dst).w);
}

}  // namespace
