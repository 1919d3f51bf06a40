#pragma once
// A touch-screen button drawn from frames of an image strip it does not own.
// It answers the pointer by posting user events carrying itself; it never calls
// its owner.

#include <SDL.h>

#include <atomic>
#include <cstdint>

class CMemButton {
public:
    CMemButton() = default;
    virtual ~CMemButton();
    CMemButton(const CMemButton&) = delete;
    CMemButton& operator=(const CMemButton&) = delete;

    // One-state and two-state buttons. Each strip holds four frames side by
    // side; every strip must have the size of strip0. 1 on success, 0 when the
    // surface is missing or empty.
    int Create(SDL_Surface* image, SDL_Rect strip0);
    int Create(SDL_Surface* image, SDL_Rect strip0, SDL_Rect strip1);

    void SetPosition(Sint16 x, Sint16 y);
    void Draw(SDL_Surface* target);
    // action: 0 button up, 1 button down, 2 motion.
    void HandlePointer(int action, Uint16 x, Uint16 y);

    void Enable();
    void Disable();
    int IsEnabled() const;
    int GetState() const;
    // Values above 4 are ignored.
    void SetFrame(int value);

    // Set once on the main thread before any other thread sees the button.
    SDL_Surface* surface = nullptr;
    SDL_Rect strips[4] = {};
    SDL_Rect screen_rect = {};
    int32_t state_count = 0;
    // Workers and the status timer disable the button and draw the screen while
    // the main thread handles the pointer, so these are atomic.
    std::atomic<int32_t> frame{0};
    std::atomic<bool> is_pressed{false};
    std::atomic<bool> is_disabled{false};

private:
    int Create(SDL_Surface* image, const SDL_Rect* strip_list, int count);
    void Post(int code);
};
