// The image button: hit area, the press/release state machine, the events it
// posts, and which frame of its strips it draws (told apart by colour).

#include "ui/imagebutton.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include "app/userevent.h"

namespace {

static_assert(!std::is_copy_constructible_v<CMemButton>, "a button is not copyable");

constexpr int kW = 56, kH = 44;  // one frame
constexpr Sint16 kX = 74, kY = 196;
constexpr int kStripY[2] = {10, 60};  // state strips; the corner above them is grey

Uint32 FaceColour(const SDL_PixelFormat* f, int state, int sub)
{
    return SDL_MapRGB(f, static_cast<Uint8>(60 * sub + 20), static_cast<Uint8>(120 * state + 40),
                      200);
}

Uint32 PixelAt(SDL_Surface* s, int x, int y)
{
    return static_cast<Uint32*>(s->pixels)[y * s->pitch / 4 + x];
}

SDL_Surface* NewSurface(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
}

class ImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        Events();  // whatever earlier tests left behind
        strip_image_ = NewSurface(4 * kW, 110);
        SDL_FillRect(strip_image_, nullptr, SDL_MapRGB(strip_image_->format, 128, 128, 128));
        for (int state = 0; state < 2; ++state) {
            for (int sub = 0; sub < 4; ++sub) {
                SDL_Rect face = {static_cast<Sint16>(sub * kW), static_cast<Sint16>(kStripY[state]),
                                 kW, kH};
                SDL_FillRect(strip_image_, &face, FaceColour(strip_image_->format, state, sub));
            }
        }
        screen_ = NewSurface(320, 240);
    }

    void TearDown() override
    {
        SDL_FreeSurface(strip_image_);
        SDL_FreeSurface(screen_);
        SDL_Quit();
    }

    SDL_Rect Strip(int state) { return {0, static_cast<Sint16>(kStripY[state]), 4 * kW, kH}; }

    void CreateButton(CMemButton& b, int states)
    {
        ASSERT_EQ(1, states == 1 ? b.Create(strip_image_, Strip(0))
                                 : b.Create(strip_image_, Strip(0), Strip(1)));
        b.SetPosition(kX, kY);
    }

    // The user events posted since the last call, as codes; each must carry
    // the button and a null second pointer.
    std::vector<int> Events(const CMemButton* from = nullptr)
    {
        std::vector<int> codes;
        SDL_Event e;
        while (TakeUserEvent(&e)) {
            if (from) {
                EXPECT_EQ(from, e.user.data1);
                EXPECT_EQ(nullptr, e.user.data2);
            }
            codes.push_back(e.user.code);
        }
        return codes;
    }

    // The colour the button has drawn at its top-left corner.
    Uint32 Drawn(CMemButton& b)
    {
        SDL_FillRect(screen_, nullptr, 0);
        b.Draw(screen_);
        return PixelAt(screen_, kX, kY);
    }

    SDL_Surface* strip_image_ = nullptr;
    SDL_Surface* screen_ = nullptr;
};

TEST_F(ImageButtonTest, HitAreaIncludesBothEdges)
{
    struct Case {
        int x, y;
        bool inside;
    } const cases[] = {
        {kX, kY, true},      {kX + kW, kY + kH, true}, {kX + kW + 1, kY, false},
        {kX - 1, kY, false}, {kX, kY - 1, false},      {kX, kY + kH + 1, false},
    };
    for (const Case& c : cases) {
        CMemButton b;
        CreateButton(b, 2);
        b.HandlePointer(1, static_cast<Uint16>(c.x), static_cast<Uint16>(c.y));
        EXPECT_EQ(c.inside ? 1 : 0, b.frame) << c.x << "," << c.y;
        EXPECT_EQ(c.inside ? std::vector<int>{EVT_BUTTON_PRESSED} : std::vector<int>{}, Events(&b))
            << c.x << "," << c.y;
    }
}

TEST_F(ImageButtonTest, PointerSequences)
{
    constexpr int in_x = kX + 10, in_y = kY + 10, out_x = 10, out_y = 10;
    struct Step {
        int action, x, y;
        int frame;
        bool pressed;
        std::vector<int> events;
    };
    struct Case {
        const char* name;
        int states;
        int start_frame;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"two states cycle",
         2,
         0,
         {{1, in_x, in_y, 1, true, {EVT_BUTTON_PRESSED}},
          {0, in_x, in_y, 4, false, {EVT_BUTTON_RELEASED}},
          {1, in_x, in_y, 5, true, {EVT_BUTTON_PRESSED}},
          {0, in_x, in_y, 0, false, {EVT_BUTTON_RELEASED}}}},
        {"one state stays in state 0",
         1,
         0,
         {{1, in_x, in_y, 1, true, {EVT_BUTTON_PRESSED}},
          {0, in_x, in_y, 0, false, {EVT_BUTTON_RELEASED}}}},
        {"motion outside cancels the press",
         2,
         4,
         {{1, in_x, in_y, 5, true, {EVT_BUTTON_PRESSED}},
          {2, out_x, out_y, 4, false, {EVT_REDRAW}},
          {0, out_x, out_y, 4, false, {}}}},
        {"up outside keeps the press until motion",
         2,
         0,
         {{1, in_x, in_y, 1, true, {EVT_BUTTON_PRESSED}},
          {0, out_x, out_y, 1, true, {}},
          {2, out_x, out_y, 0, false, {EVT_REDRAW}}}},
        {"click begun outside",
         2,
         0,
         {{1, out_x, out_y, 0, false, {}},
          {2, in_x, in_y, 0, false, {}},
          {0, in_x, in_y, 4, false, {EVT_BUTTON_RELEASED}}}},
        {"state without a strip falls back to state 0",
         1,
         4,
         {{1, in_x, in_y, 1, true, {EVT_BUTTON_PRESSED}},
          {0, in_x, in_y, 0, false, {EVT_BUTTON_RELEASED}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMemButton b;
        CreateButton(b, c.states);
        b.SetFrame(c.start_frame);
        for (const Step& s : c.steps) {
            b.HandlePointer(s.action, static_cast<Uint16>(s.x), static_cast<Uint16>(s.y));
            EXPECT_EQ(s.frame, b.frame);
            EXPECT_EQ(s.frame / 4, b.GetState());
            EXPECT_EQ(s.pressed, b.is_pressed);
            EXPECT_EQ(s.events, Events(&b));
        }
    }
}

TEST_F(ImageButtonTest, DrawsTheFaceTheFrameNames)
{
    CMemButton b;
    CreateButton(b, 2);
    const SDL_PixelFormat* f = screen_->format;
    struct Case {
        int frame;
        Uint32 colour;
    } const cases[] = {{0, FaceColour(f, 0, 0)},
                       {1, FaceColour(f, 0, 1)},
                       {2, FaceColour(f, 0, 2)},
                       {4, FaceColour(f, 1, 0)}};
    for (const Case& c : cases) {
        b.SetFrame(c.frame);
        EXPECT_EQ(c.colour, Drawn(b)) << c.frame;
    }
    b.SetFrame(5);  // ignored
    EXPECT_EQ(4, b.frame);
    EXPECT_EQ(1, b.GetState());

    // A one-state button set to state 1 draws from the empty strip slot: the
    // image's top-left corner.
    CMemButton one;
    CreateButton(one, 1);
    one.SetFrame(4);
    EXPECT_EQ(SDL_MapRGB(f, 128, 128, 128), Drawn(one));
}

TEST_F(ImageButtonTest, DisabledIgnoresThePointerAndShowsItsDisabledFace)
{
    CMemButton b;
    CreateButton(b, 2);
    const SDL_PixelFormat* f = screen_->format;
    for (int frame : {1, 4}) {
        b.SetFrame(frame);
        b.Disable();
        EXPECT_EQ(0, b.IsEnabled());
        for (int action : {1, 0, 2})
            b.HandlePointer(action, kX + 1, kY + 1);
        EXPECT_EQ(frame, b.frame);
        EXPECT_TRUE(Events().empty());
        EXPECT_EQ(FaceColour(f, frame / 4, 3), Drawn(b));
        b.Enable();
        EXPECT_EQ(1, b.IsEnabled());
        EXPECT_EQ(FaceColour(f, frame / 4, frame % 4), Drawn(b));
    }
}

TEST_F(ImageButtonTest, UncreatedOrNegativeFrameDoesNothing)
{
    CMemButton none;
    EXPECT_EQ(0, none.Create(nullptr, Strip(0)));
    CMemButton negative;
    CreateButton(negative, 2);
    negative.SetFrame(-1);
    for (CMemButton* b : {&none, &negative}) {
        b->HandlePointer(1, kX + 1, kY + 1);
        EXPECT_TRUE(Events().empty());
        EXPECT_EQ(0u, Drawn(*b));
    }
    EXPECT_EQ(0, none.state_count);
}

// Workers disable the button while the main thread handles the pointer and
// draws (ThreadSanitizer watches the fields they share). Every draw shows a
// face of the frame it read, its own or the disabled one; every event is a
// press or a release posted by the button as itself; and once the worker's
// last Disable has been seen, the pointer does nothing and the disabled face
// is drawn.
TEST_F(ImageButtonTest, DisableFromAnotherThreadWhileDrawing)
{
    CMemButton b;
    CreateButton(b, 2);
    const SDL_PixelFormat* f = screen_->format;
    std::set<Uint32> faces;
    for (int state = 0; state < 2; ++state)
        for (int sub = 0; sub < 4; ++sub)
            faces.insert(FaceColour(f, state, sub));
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done)
            b.Disable();
        b.Disable();
    });
    for (int i = 0; i < 2000; ++i) {
        b.HandlePointer(i % 3, kX + 1, kY + 1);
        EXPECT_EQ(1u, faces.count(Drawn(b))) << i;
        if (i % 7 == 0)
            b.Enable();
        for (int code : Events(&b))
            EXPECT_TRUE(code == EVT_BUTTON_PRESSED || code == EVT_BUTTON_RELEASED) << code;
    }
    done = true;
    worker.join();
    EXPECT_EQ(0, b.IsEnabled());
    const int frame = b.frame;
    for (int action : {1, 0, 2})
        b.HandlePointer(action, kX + 1, kY + 1);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(frame, b.frame);
    EXPECT_EQ(FaceColour(f, frame / 4, 3), Drawn(b));
}

}  // namespace
