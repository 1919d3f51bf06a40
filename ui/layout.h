#pragma once
// Names of the entries of the screen layout table. Each row of equal pieces
// (digits, icons, frames) is named by its first entry; entry k of the row is
// name + k.

namespace layout {

enum Entry : int {
    // Help image sources.
    help_page_src = 0,
    help_close_strip = 1,
    help_corner_src = 2,
    help_header_src = 3,
    // Skin sources, background.
    skin_middle_src = 4,
    skin_top_src = 5,
    skin_bottom_src = 6,
    skin_corner_src = 7,
    // Skin sources, small glyph row.
    spare_icon_src = 8,  // 5 entries
    hold_icon_src = 13,
    small_digit_src = 14,  // 10 entries
    small_colon_src = 24,
    am_src = 25,
    pm_src = 26,
    battery_icon_src = 27,  // 5 entries
    // Skin sources, big glyph row.
    big_digit_src = 32,  // 10 entries
    big_colon_src = 42,
    // Button strips.
    play_button_strip = 43,
    stop_button_strip = 44,
    record_button_strip = 45,
    list_button_strip = 46,
    // Message frames of the message strip images.
    message_frame_src = 47,  // 7 entries
    // Screen destinations.
    help_page_dst = 54,
    help_corner_dst = 55,
    help_header_dst = 56,
    skin_middle_dst = 57,
    skin_top_dst = 58,
    skin_bottom_dst = 59,
    skin_corner_dst = 60,
    spare_icon_dst = 61,
    hold_icon_dst = 62,
    clock_digit_dst = 63,  // 4 entries
    clock_colon_dst = 67,
    am_pm_dst = 68,
    battery_icon_dst = 69,
    counter_digit_dst = 70,  // 6 entries
    counter_colon_dst = 76,  // 2 entries
    spare_area_dst = 78,
};

constexpr int kEntryCount = 79;

}  // namespace layout
