#include "ui/image.h"

#include <SDL_image.h>

namespace {

// A colour key compares the converted pixels: where the screen has fewer
// bits than the image, or the palette holds the key's colour twice, colours
// that showed would become transparent.
bool KeyWouldSpread(const SDL_Surface* image, const SDL_PixelFormat* screen)
{
    if (!(image->flags & SDL_SRCCOLORKEY))
        return false;
    const SDL_PixelFormat* format = image->format;
    const SDL_Palette* palette = format->palette;
    if (!palette)
        return screen->Rloss > format->Rloss || screen->Gloss > format->Gloss ||
               screen->Bloss > format->Bloss;
    if (format->colorkey >= static_cast<Uint32>(palette->ncolors))
        return false;
    auto on_screen = [screen](const SDL_Color& c) {
        return SDL_MapRGB(const_cast<SDL_PixelFormat*>(screen), c.r, c.g, c.b);
    };
    const Uint32 key = on_screen(palette->colors[format->colorkey]);
    for (int i = 0; i < palette->ncolors; ++i)
        if (static_cast<Uint32>(i) != format->colorkey && on_screen(palette->colors[i]) == key)
            return true;
    return false;
}

}  // namespace

SDL_Surface* ToScreenFormat(SDL_Surface* loaded)
{
    const SDL_Surface* screen = SDL_GetVideoSurface();
    if (!loaded || !screen)
        return loaded;
    SDL_Surface* converted = nullptr;
    if (loaded->format->Amask) {
        // Onto a 3-byte screen SDL blends any 32-bit layout with one and the
        // same arithmetic. Onto 2- and 4-byte screens it has faster blenders
        // for the converted layout that round otherwise, so there the image
        // stays as it was loaded.
        if (screen->format->BytesPerPixel == 3)
            converted = SDL_DisplayFormatAlpha(loaded);
    } else if (!KeyWouldSpread(loaded, screen->format)) {
        // Keeps the colour key and the surface alpha, if any.
        converted = SDL_DisplayFormat(loaded);
    }
    if (!converted)
        return loaded;
    SDL_FreeSurface(loaded);
    return converted;
}

SDL_Surface* LoadScreenImage(const char* path)
{
    return ToScreenFormat(IMG_Load(path));
}
