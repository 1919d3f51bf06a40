#include <SDL.h>

#include "view/recorderview.h"

void CRecorderView::DrawScreen(SDL_Surface* target)
{
    if (!target)
        return;
    SDL_Flip(target);
}
