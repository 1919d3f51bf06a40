// The recorder screen, painted whole from the skin, the help page, the
// widgets and the texts, then flipped.

#include <SDL.h>

#include "platform/screen.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

constexpr const char* kVersion = "v0.95";

// A destination rectangle decides only where a piece lands.
void Blit(SDL_Surface* image, const SDL_Rect& source, SDL_Surface* target, const SDL_Rect& at)
{
    SDL_Rect src = source;
    SDL_Rect dst = {at.x, at.y, 0, 0};
    SDL_UpperBlit(image, &src, target, &dst);
}

}  // namespace

void CRecorderView::DrawScreen(SDL_Surface* target)
{
    if (!target)
        return;
    // Counted, so a thread that disabled a button can tell when a frame drawn
    // after that is on screen.
    const uint64_t frame = run.FrameBegun();
    using namespace layout;
    if (help_shown) {
        if (help_image) {
            Blit(help_image, rects[help_page_src], target, rects[help_page_dst]);
            Blit(help_image, rects[help_corner_src], target, rects[help_corner_dst]);
            Blit(help_image, rects[help_header_src], target, rects[help_header_dst]);
            if (help_close_button)
                help_close_button->Draw(target);
        }
        DrawTitle(target);
        if (show_version) {
            DrawText(target, 67, 215, kVersion);
            DrawText(target, 165, 215, language);
        }
        DrawStatusBar(target);
    } else {
        if (skin) {
            Blit(skin, rects[skin_middle_src], target, rects[skin_middle_dst]);
            Blit(skin, rects[skin_top_src], target, rects[skin_top_dst]);
            Blit(skin, rects[skin_bottom_src], target, rects[skin_bottom_dst]);
            Blit(skin, rects[skin_corner_src], target, rects[skin_corner_dst]);
            DrawStatusBar(target);
            DrawCounter(target);
            for (CMemButton* button : {play_button, record_button, list_button})
                if (button)
                    button->Draw(target);
            if (msg_box)
                msg_box->Draw(target);
        }
        if (show_version)
            DrawText(target, 8, 211, kVersion);
        if (file_path[0])
            DrawText(target, 32, 12, file_path);
    }
    platform::PresentScreen(target);
    run.FrameFlipped(frame);
}

void CRecorderView::DrawStatusBar(SDL_Surface* target)
{
    if (!skin)
        return;
    using namespace layout;
    if (hold_on)
        Blit(skin, rects[hold_icon_src], target, rects[hold_icon_dst]);
    Blit(skin, rects[small_colon_src], target, rects[clock_colon_dst]);
    Blit(skin, rects[battery_icon_src + battery_index], target, rects[battery_icon_dst]);
    const int hour = clock_hour;
    const int minute = clock_min;
    Blit(skin, rects[hour <= 11 ? am_src : pm_src], target, rects[am_pm_dst]);
    const int twelve = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
    const int digits[4] = {twelve / 10, twelve % 10, minute / 10, minute % 10};
    for (int i = 0; i < 4; ++i)
        Blit(skin, rects[small_digit_src + digits[i]], target, rects[clock_digit_dst + i]);
}

void CRecorderView::DrawCounter(SDL_Surface* target)
{
    if (!skin)
        return;
    using namespace layout;
    Blit(skin, rects[big_colon_src], target, rects[counter_colon_dst]);
    Blit(skin, rects[big_colon_src], target, rects[counter_colon_dst + 1]);
    const int seconds = elapsed_sec;
    if (seconds < 0 || seconds > 359999)
        return;
    const int hours = seconds / 3600;
    const int minutes = seconds / 60 % 60;
    const int digits[6] = {hours / 10,   hours % 10,        minutes / 10,
                           minutes % 10, seconds % 60 / 10, seconds % 60 % 10};
    for (int i = 0; i < 6; ++i)
        Blit(skin, rects[big_digit_src + digits[i]], target, rects[counter_digit_dst + i]);
}
