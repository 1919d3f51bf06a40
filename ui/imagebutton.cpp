#include "ui/imagebutton.h"

#include "app/userevent.h"

namespace {

constexpr int kFramesPerStrip = 4;
constexpr int kDisabledSubFrame = 3;
// The application only ever resets a button (0) or shows its second state (4).
constexpr int kHighestSettableFrame = 4;

enum PointerAction { kUp = 0, kDown = 1, kMotion = 2 };

}  // namespace

CMemButton::~CMemButton()
{
    // The image belongs to the view.
    surface = nullptr;
}

int CMemButton::Create(SDL_Surface* image, SDL_Rect strip0)
{
    return Create(image, &strip0, 1);
}

int CMemButton::Create(SDL_Surface* image, SDL_Rect strip0, SDL_Rect strip1)
{
    const SDL_Rect both[] = {strip0, strip1};
    return Create(image, both, 2);
}

int CMemButton::Create(SDL_Surface* image, const SDL_Rect* strip_list, int count)
{
    if (!image || image->w <= 0 || image->h <= 0)
        return 0;
    surface = image;
    for (int i = 0; i < count; ++i)
        strips[i] = strip_list[i];
    screen_rect.w = strip_list[0].w / kFramesPerStrip;
    screen_rect.h = strip_list[0].h;
    state_count = count;
    frame = 0;
    return 1;
}

void CMemButton::SetPosition(Sint16 x, Sint16 y)
{
    screen_rect.x = x;
    screen_rect.y = y;
}

void CMemButton::Draw(SDL_Surface* target)
{
    // One read: a worker may change the frame while we draw.
    const int32_t current = frame;
    const int state = current / kFramesPerStrip;
    if (screen_rect.w == 0 || screen_rect.h == 0 || current < 0 || state >= kFramesPerStrip)
        return;
    if (!surface || !target)
        return;
    const int sub_frame = is_disabled ? kDisabledSubFrame : current % kFramesPerStrip;
    SDL_Rect source = strips[state];
    source.x = static_cast<Sint16>(source.x + sub_frame * screen_rect.w);
    source.w = screen_rect.w;
    source.h = screen_rect.h;
    SDL_Rect destination = screen_rect;  // the blit clips its destination in place
    SDL_BlitSurface(surface, &source, target, &destination);
}

void CMemButton::HandlePointer(int action, Uint16 x, Uint16 y)
{
    const int32_t current = frame;
    if (state_count <= 0 || current < 0 || is_disabled)
        return;
    const int state = current / kFramesPerStrip;
    const bool inside = screen_rect.x <= x && x <= screen_rect.x + screen_rect.w &&
                        screen_rect.y <= y && y <= screen_rect.y + screen_rect.h;
    if (inside) {
        switch (action) {
        case kUp:
            is_pressed = false;
            frame = state < state_count - 1 ? (state + 1) * kFramesPerStrip : 0;
            Post(EVT_BUTTON_RELEASED);
            break;
        case kDown:
            is_pressed = true;
            frame = state < state_count ? state * kFramesPerStrip + 1 : 1;
            Post(EVT_BUTTON_PRESSED);
            break;
        default:
            break;
        }
        return;
    }
    if (is_pressed && action == kMotion) {
        // The finger slid off: the press is cancelled without a release.
        frame = state * kFramesPerStrip;
        Post(EVT_REDRAW);
        is_pressed = false;
    }
}

void CMemButton::Enable()
{
    is_disabled = false;
}

void CMemButton::Disable()
{
    is_disabled = true;
}

int CMemButton::IsEnabled() const
{
    return is_disabled ? 0 : 1;
}

int CMemButton::GetState() const
{
    return frame / kFramesPerStrip;
}

void CMemButton::SetFrame(int value)
{
    if (value <= kHighestSettableFrame)
        frame = value;
}

void CMemButton::Post(int code)
{
    PostUserEvent(code, this);
}
