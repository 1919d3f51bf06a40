#!/usr/bin/python3
"""Draws every image the recorder loads from ./res.

Run from the repository root:  python3 assets/generate_artwork.py

It writes, all as plain RGB PNGs (no alpha: the program copies every piece as an
opaque rectangle, so each piece carries the pixels of whatever lies under it on
screen):

  res/app_rec.png              the skin, 544x263: the three background bands and
                               the corner piece, the status-bar glyphs (HOLD
                               padlock, clock digits, colon, AM/PM, battery), the
                               big counter digits and colon, and the play, stop,
                               record and list button strips (normal, pressed,
                               highlighted, disabled faces).
  res/app_rec_help*.png        one help page per language, 320x273: the page, and
                               below it the close-button strip, the header piece
                               and the corner piece.
  res/app_rec_error*.png       one message strip per language, 298x798: seven
                               dialog frames of 298x114 stacked vertically.

Sources:
  assets/text/<language>.txt   the help and message texts ("key = value" lines).
  Fonts from Debian packages:  fonts-noto-cjk (Noto Sans CJK, every help and
                               message text, Latin scripts included, so that all
                               languages share one typeface) and fonts-dejavu-core
                               (the "?" of the help header).
  Everything else (icons, digits, bands, buttons) is drawn here from geometry.

Nothing random or dated goes in: with the same Pillow and FreeType, running it
again rewrites identical files. Needs python3-pil.
"""

import math
import os
import sys

try:
    from PIL import Image, ImageDraw, ImageFilter, ImageFont
except ImportError:  # a python3 of its own (a version manager's) may shadow Debian's
    if os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") and \
            os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("generate_artwork.py needs PIL: apt-get install python3-pil")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TEXT_DIR = os.path.join(ROOT, "assets", "text")
RES_DIR = os.path.join(ROOT, "res")

NOTO_REGULAR = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
NOTO_BOLD = "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc"
DEJAVU_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
# Face index inside the Noto Sans CJK collections: each regional face draws the
# shared Han characters the way its readers expect.
NOTO_FACE = {"ja": 0, "ko": 1, "zh": 2}
NOTO_FACE_LATIN = 0

# Language code of the text file -> suffix of the image names.
LANGUAGES = [
    ("en", ""),
    ("ko", "_kor"),
    ("zh", "_chn"),
    ("ja", "_jpn"),
    ("de", "_ger"),
    ("es", "_esp"),
    ("fr", "_fra"),
    ("it", "_ita"),
]

SCREEN_W, SCREEN_H = 320, 240
SKIN_W, SKIN_H = 544, 263
HELP_W, HELP_H = 320, 273
MSG_W, MSG_H, MSG_FRAMES = 298, 114, 7
MSG_POS = (11, 65)

# ---------------------------------------------------------------------------
# Palette
# ---------------------------------------------------------------------------
BAR_TOP = (250, 251, 253)
BAR_BOTTOM = (228, 233, 239)
BAR_LINE = (170, 180, 192)
BAR_SHADE = (190, 198, 208)
PAGE_TOP = (223, 228, 234)
PAGE_BOTTOM = (207, 213, 221)
TOOL_TOP = (245, 247, 250)
TOOL_BOTTOM = (222, 227, 234)
CARD_TOP = (38, 47, 59)
CARD_BOTTOM = (24, 31, 41)
CARD_EDGE = (14, 19, 26)
CARD_GLOW = (58, 69, 84)
DIGIT_ON = (234, 244, 252)
DIGIT_OFF = (39, 48, 60)
WAVE = (56, 70, 87)
INK = (38, 48, 60)
INK_SOFT = (92, 104, 118)
RED = (222, 58, 50)
RED_DARK = (170, 34, 30)
GREEN = (40, 160, 90)
AMBER = (232, 150, 20)
BLUE = (44, 118, 206)
WHITE = (255, 255, 255)
FILLER = (128, 128, 128)

TILE_TOP = (255, 255, 255)
TILE_BOTTOM = (232, 236, 241)
TILE_EDGE = (150, 161, 175)
TILE_DROP = (192, 200, 210)
PRESS_TOP = (196, 205, 216)
PRESS_BOTTOM = (216, 222, 230)
PRESS_EDGE = (112, 125, 141)
PRESS_INNER = (176, 186, 198)
HOVER_TOP = (255, 255, 255)
HOVER_BOTTOM = (226, 237, 250)
OFF_FILL = (233, 236, 240)
OFF_EDGE = (203, 209, 216)
OFF_INK = (178, 186, 196)

# Supersampling factor of every anti-aliased shape.
SS = 8


# ---------------------------------------------------------------------------
# Drawing helpers
# ---------------------------------------------------------------------------
class Pen:
    """Draws shapes into a supersampled coverage mask, in pixel units.

    Coordinates are pixel edges: rect(0, 0, 3, 2) covers exactly the 3x2 pixels
    from the top-left corner, so shapes with whole-number edges stay crisp.
    """

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.img = Image.new("L", (w * SS, h * SS), 0)
        self.d = ImageDraw.Draw(self.img)

    @staticmethod
    def _p(v):
        return int(round(v * SS))

    def _box(self, x0, y0, x1, y1):
        return [self._p(x0), self._p(y0), self._p(x1) - 1, self._p(y1) - 1]

    def rect(self, x0, y0, x1, y1, fill=255):
        self.d.rectangle(self._box(x0, y0, x1, y1), fill=fill)

    def rrect(self, x0, y0, x1, y1, r, fill=255):
        self.d.rounded_rectangle(self._box(x0, y0, x1, y1), radius=self._p(r), fill=fill)

    def ellipse(self, x0, y0, x1, y1, fill=255):
        self.d.ellipse(self._box(x0, y0, x1, y1), fill=fill)

    def circle(self, cx, cy, r, fill=255):
        self.ellipse(cx - r, cy - r, cx + r, cy + r, fill)

    def ring(self, cx, cy, r, width):
        self.circle(cx, cy, r, 255)
        self.circle(cx, cy, r - width, 0)

    def polygon(self, pts, fill=255):
        self.d.polygon([(self._p(x), self._p(y)) for x, y in pts], fill=fill)

    def line(self, pts, width, fill=255, round_caps=True):
        scaled = [(self._p(x), self._p(y)) for x, y in pts]
        wpx = self._p(width)
        self.d.line(scaled, fill=fill, width=wpx, joint="curve")
        if round_caps:
            for x, y in (scaled[0], scaled[-1]):
                r = wpx / 2
                self.d.ellipse([x - r, y - r, x + r, y + r], fill=fill)

    def arc(self, cx, cy, r, start, end, width, fill=255):
        box = [self._p(cx - r), self._p(cy - r), self._p(cx + r), self._p(cy + r)]
        self.d.arc(box, start, end, fill=fill, width=self._p(width))

    def mask(self):
        return self.img.resize((self.w, self.h), Image.BOX)


def paint(img, x, y, mask, colour):
    """Blends a solid colour into img through a coverage mask placed at (x, y)."""
    img.paste(colour, (x, y), mask)


def paint_image(img, x, y, mask, src):
    img.paste(src, (x, y), mask)


def vgradient(w, h, top, bottom):
    g = Image.new("RGB", (w, h))
    px = g.load()
    for yy in range(h):
        t = yy / (h - 1) if h > 1 else 0.0
        c = tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))
        for xx in range(w):
            px[xx, yy] = c
    return g


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def shadow(img, mask, x, y, colour, strength, blur):
    """Soft shadow of a mask, drawn at (x, y) below whatever comes next."""
    pad = int(blur * 3) + 1
    big = Image.new("L", (mask.width + 2 * pad, mask.height + 2 * pad), 0)
    big.paste(mask, (pad, pad))
    if blur > 0:
        big = big.filter(ImageFilter.GaussianBlur(blur))
    big = big.point(lambda v: int(v * strength))
    paint(img, x - pad, y - pad, big, colour)


def crop(img, x, y, w, h):
    return img.crop((x, y, x + w, y + h))


def same_under(img, rects, what):
    """Each glyph family is drawn once over one background; it may land on any
    of its destinations, so those must all show the same pixels."""
    first = crop(img, *rects[0]).tobytes()
    for r in rects[1:]:
        if crop(img, *r).tobytes() != first:
            raise SystemExit("background differs under %s at %r" % (what, r))


# ---------------------------------------------------------------------------
# Icons: each takes a Pen and the icon's box (x, y, size) in pixel units
# ---------------------------------------------------------------------------
def icon_mic(p, cx, cy, s):
    """Microphone of height ~s centred on (cx, cy)."""
    hw = s * 0.19
    top = cy - s * 0.50
    p.rrect(cx - hw, top, cx + hw, top + s * 0.58, hw)
    p.arc(cx, top + s * 0.34, s * 0.33, 0, 180, s * 0.085)
    p.rect(cx - s * 0.045, top + s * 0.66, cx + s * 0.045, top + s * 0.88)
    p.rrect(cx - s * 0.22, top + s * 0.86, cx + s * 0.22, top + s * 0.95, s * 0.04)


def icon_play(p, cx, cy, s):
    w = s * 0.86
    x0 = cx - w * 0.40
    p.polygon([(x0, cy - s / 2), (x0 + w, cy), (x0, cy + s / 2)])


def icon_stop(p, cx, cy, s):
    p.rrect(cx - s / 2, cy - s / 2, cx + s / 2, cy + s / 2, s * 0.14)


def icon_record(p, cx, cy, s):
    p.circle(cx, cy, s / 2)


def icon_list(p, cx, cy, s):
    # Snapped to whole pixels: three bullets and bars stay sharp at this size.
    gap = round(s * 0.34)
    x0, x1 = math.floor(cx - s / 2), math.floor(cx + s / 2)
    for k in (-1, 0, 1):
        y = math.floor(cy) + k * gap
        p.rect(x0, y - 1, x0 + 3, y + 2)
        p.rect(x0 + 5, y - 1, x1, y + 1)


def icon_back(p, cx, cy, s):
    """Arrow turning back to the left."""
    r = s * 0.30
    p.arc(cx + s * 0.08, cy + s * 0.02, r, 270, 90, s * 0.13)
    p.line([(cx + s * 0.08, cy - r + s * 0.02), (cx - s * 0.20, cy - r + s * 0.02)],
           s * 0.13, round_caps=False)
    p.line([(cx + s * 0.08, cy + r + s * 0.02), (cx - s * 0.30, cy + r + s * 0.02)],
           s * 0.13, round_caps=True)
    ay = cy - r + s * 0.02
    p.polygon([(cx - s * 0.42, ay), (cx - s * 0.16, ay - s * 0.22), (cx - s * 0.16, ay + s * 0.22)])


def icon_home(p, cx, cy, s):
    top = cy - s * 0.46
    eave = cy - s * 0.02
    p.polygon([(cx - s * 0.50, eave), (cx, top), (cx + s * 0.50, eave),
               (cx + s * 0.38, eave), (cx, top + s * 0.17), (cx - s * 0.38, eave)])
    p.rect(cx - s * 0.30, cy - s * 0.06, cx + s * 0.30, cy + s * 0.44)
    p.rect(cx - s * 0.09, cy + s * 0.12, cx + s * 0.09, cy + s * 0.44, fill=0)


def icon_padlock(p):
    """11x11 padlock."""
    p.arc(5.5, 4.0, 2.6, 180, 360, 1.3)
    p.rect(2.9, 4.0, 4.2, 5.5)
    p.rect(6.8, 4.0, 8.1, 5.5)
    p.rrect(1.5, 5.0, 9.5, 11.0, 1.2)
    p.rect(5.0, 7.0, 6.0, 9.0, fill=0)


def icon_cross(p, cx, cy, s):
    h = s / 2
    p.line([(cx - h, cy - h), (cx + h, cy + h)], s * 0.22)
    p.line([(cx - h, cy + h), (cx + h, cy - h)], s * 0.22)


def icon_sdcard(p, cx, cy, s):
    w, h = s * 0.70, s * 0.92
    x0, y0 = cx - w / 2, cy - h / 2
    p.polygon([(x0 + w * 0.32, y0), (x0 + w, y0), (x0 + w, y0 + h), (x0, y0 + h),
               (x0, y0 + w * 0.32)])


# ---------------------------------------------------------------------------
# Text
# ---------------------------------------------------------------------------
def read_texts(code):
    path = os.path.join(TEXT_DIR, code + ".txt")
    texts = {}
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            if " = " not in line:
                raise SystemExit("%s:%d: expected 'key = value'" % (path, n))
            key, value = line.split(" = ", 1)
            texts[key.strip()] = value.strip()
    needed = ["help.record", "help.play", "help.list", "help.back",
              "help.menu", "help.note"]
    needed += ["msg.%d.%s" % (k, part) for k in range(MSG_FRAMES) for part in ("title", "body")]
    missing = [k for k in needed if k not in texts]
    if missing:
        raise SystemExit("%s: missing %s" % (path, ", ".join(missing)))
    return texts


_font_cache = {}


def font(code, size, bold=False):
    face = NOTO_FACE.get(code, NOTO_FACE_LATIN)
    path = NOTO_BOLD if bold else NOTO_REGULAR
    key = (path, face, size)
    if key not in _font_cache:
        if not os.path.exists(path):
            raise SystemExit("missing font %s: apt-get install fonts-noto-cjk" % path)
        # The basic layout keeps the hinted advances of the hinted glyphs, so
        # small Latin text is evenly spaced (and no shaping library is needed).
        _font_cache[key] = ImageFont.truetype(path, size, index=face,
                                              layout_engine=ImageFont.Layout.BASIC)
    return _font_cache[key]


def is_wide(ch):
    o = ord(ch)
    return (0x2E80 <= o <= 0x9FFF) or (0xF900 <= o <= 0xFAFF) or (0xFF00 <= o <= 0xFFEF)


# Characters that must not start a line, and that must not end one.
NO_START = set("、。，．・：；？！）」』】〉》ー…%,.;:!?)]’”\u00a0ぁぃぅぇぉっゃゅょァィゥェォッャュョ")
NO_END = set("（「『【〈《([‘“")


def tokens(text, fnt, colour):
    """Splits a run into breakable pieces: words for spaced scripts, single
    characters for Chinese and Japanese, with the line-breaking rules kept."""
    out = []
    word = ""
    for ch in text:
        if ch == " ":
            if word:
                out.append([word, fnt, colour, False])
                word = ""
            out.append([" ", fnt, colour, True])
        elif is_wide(ch):
            if word and not (ch in NO_START):
                out.append([word, fnt, colour, False])
                word = ""
            word += ch
            if ch not in NO_END:
                out.append([word, fnt, colour, False])
                word = ""
        else:
            if ch in NO_START and not word and out and not out[-1][3]:
                out[-1][0] += ch
                continue
            word += ch
    if word:
        out.append([word, fnt, colour, False])
    # Glue no-start characters to what precedes them.
    merged = []
    for t in out:
        if merged and not t[3] and t[0][0] in NO_START and not merged[-1][3] \
                and merged[-1][1] is t[1]:
            merged[-1][0] += t[0]
        else:
            merged.append(t)
    return merged


def wrap(runs, width):
    """Lays out (text, font, colour) runs into lines no wider than width."""
    toks = []
    for text, fnt, colour in runs:
        toks += tokens(text, fnt, colour)
    lines, line, x = [], [], 0.0
    for text, fnt, colour, space in toks:
        w = fnt.getlength(text)
        if space:
            if line:
                line.append((text, fnt, colour, x))
                x += w
            continue
        if line and x + w > width:
            while line and line[-1][0] == " ":
                line.pop()
            lines.append(line)
            line, x = [], 0.0
        line.append((text, fnt, colour, x))
        x += w
    while line and line[-1][0] == " ":
        line.pop()
    if line:
        lines.append(line)
    return lines


def draw_lines(img, lines, x, y, line_h, ascent):
    """Draws wrapped lines; the first baseline lies at y + ascent."""
    d = ImageDraw.Draw(img)
    for n, line in enumerate(lines):
        base = y + n * line_h + ascent
        for text, fnt, colour, tx in line:
            d.text((x + tx, base), text, font=fnt, fill=colour, anchor="ls")


# ---------------------------------------------------------------------------
# Screen backgrounds
# ---------------------------------------------------------------------------
BADGE = (5, 6, 26, 27)  # app badge in the corner piece, screen pixels


def draw_top_bar(img):
    """Rows 0..34: light status bar, its edge and the shade it casts. Uniform
    across x, so the status glyphs can land anywhere along it."""
    img.paste(vgradient(SCREEN_W, 32, BAR_TOP, BAR_BOTTOM), (0, 0))
    ImageDraw.Draw(img).line([(0, 32), (SCREEN_W - 1, 32)], fill=BAR_LINE)
    for k, t in enumerate((0.55, 0.25)):
        row = img.crop((0, 33 + k, SCREEN_W, 34 + k))
        shade = Image.new("RGB", row.size, BAR_SHADE)
        img.paste(Image.blend(row, shade, t), (0, 33 + k))


def draw_badge(img):
    """The recorder's badge at the top-left corner: a red tile with a mic."""
    x0, y0, x1, y1 = BADGE
    p = Pen(x1 - x0, y1 - y0)
    p.rrect(0, 0, x1 - x0, y1 - y0, 5)
    m = p.mask()
    drop = Pen(x1 - x0, y1 - y0)
    drop.rrect(0, 0, x1 - x0, y1 - y0, 5)
    shadow(img, drop.mask(), x0, y0 + 1, (120, 130, 140), 0.35, 0.6)
    paint_image(img, x0, y0, m, vgradient(x1 - x0, y1 - y0, (238, 84, 74), RED_DARK))
    q = Pen(x1 - x0, y1 - y0)
    icon_mic(q, (x1 - x0) / 2, (y1 - y0) / 2 + 0.5, 15)
    paint(img, x0, y0, q.mask(), WHITE)


def draw_help_badge(img):
    """Header piece of the help page: a blue "?" disc and a chevron toward the
    title that the program writes at x = 95."""
    cx, cy, r = 47, 16.5, 10.5
    p = Pen(SCREEN_W, 33)
    p.circle(cx, cy, r)
    paint_image(img, 0, 0, p.mask(), vgradient(SCREEN_W, 33, (80, 150, 230), (30, 96, 182)))
    f = ImageFont.truetype(DEJAVU_BOLD, 15)
    d = ImageDraw.Draw(img)
    d.text((cx, cy + 0.5), "?", font=f, fill=WHITE, anchor="mm")
    q = Pen(SCREEN_W, 33)
    q.line([(73, 12), (78, 16.5), (73, 21)], 1.6)
    paint(img, 0, 0, q.mask(), INK_SOFT)


CARD = (10, 45, 310, 185)   # the dark display, screen pixels
MIC_DISC = (86, 102, 31)    # centre and radius of the microphone disc


def waveform_heights(n):
    """A fixed, speech-like envelope: bursts of syllables with pauses."""
    hs = []
    for k in range(n):
        t = k / n
        env = max(0.0, math.sin(t * math.pi * 5.3 + 0.4)) ** 0.7
        env *= 0.55 + 0.45 * math.sin(t * math.pi * 1.7 + 1.1) ** 2
        ripple = 0.55 + 0.45 * abs(math.sin(k * 1.93) * math.cos(k * 0.71))
        hs.append(env * ripple)
    return hs


def draw_recorder_screen():
    """The recorder screen as it looks with nothing dynamic drawn on it."""
    img = Image.new("RGB", (SCREEN_W, SCREEN_H))
    # Middle: light page with the dark display card.
    img.paste(vgradient(SCREEN_W, 162, PAGE_TOP, PAGE_BOTTOM), (0, 33))
    x0, y0, x1, y1 = CARD
    w, h = x1 - x0, y1 - y0
    p = Pen(w, h)
    p.rrect(0, 0, w, h, 10)
    card_mask = p.mask()
    shadow(img, card_mask, x0, y0 + 2, (90, 100, 112), 0.45, 2.0)
    paint(img, x0, y0, card_mask, CARD_EDGE)
    inner = Pen(w, h)
    inner.rrect(1, 1, w - 1, h - 1, 9)
    paint_image(img, x0, y0, inner.mask(), vgradient(w, h, CARD_TOP, CARD_BOTTOM))
    gloss = Pen(w, h)
    gloss.rrect(1, 1, w - 1, 12, 9)
    gloss.rect(1, 2, w - 1, 12, fill=0)
    paint(img, x0, y0, gloss.mask(), CARD_GLOW)

    # Microphone disc on the left of the counter.
    cx, cy, r = MIC_DISC
    disc = Pen(SCREEN_W, SCREEN_H)
    disc.circle(cx, cy, r)
    paint_image(img, 0, 0, disc.mask(), vgradient(SCREEN_W, SCREEN_H, (52, 63, 78), (26, 33, 43)))
    ring = Pen(SCREEN_W, SCREEN_H)
    ring.ring(cx, cy, r, 1.5)
    paint(img, 0, 0, ring.mask(), (78, 92, 110))
    mic = Pen(SCREEN_W, SCREEN_H)
    icon_mic(mic, cx, cy + 1, 36)
    paint(img, 0, 0, mic.mask(), (214, 224, 234))
    dot = Pen(SCREEN_W, SCREEN_H)
    dot.circle(cx + 21, cy - 21, 4.5)
    paint(img, 0, 0, dot.mask(), RED)

    # A quiet waveform along the bottom of the display.
    wave = Pen(SCREEN_W, SCREEN_H)
    xs = list(range(26, 294, 3))
    mid = 160
    for xk, hv in zip(xs, waveform_heights(len(xs))):
        half = 1 + round(hv * 12)
        wave.rect(xk, mid - half, xk + 2, mid + half)
    paint(img, 0, 0, wave.mask(), WAVE)
    ImageDraw.Draw(img).line([(26, mid), (293, mid)], fill=mix(WAVE, CARD_BOTTOM, 0.3))

    # Bottom: light tool bar for the buttons.
    ImageDraw.Draw(img).line([(0, 195), (SCREEN_W - 1, 195)], fill=BAR_LINE)
    img.paste(vgradient(SCREEN_W, 44, TOOL_TOP, TOOL_BOTTOM), (0, 196))

    draw_top_bar(img)
    draw_badge(img)
    return img


def draw_help_screen(code, texts):
    img = Image.new("RGB", (SCREEN_W, SCREEN_H))
    img.paste(vgradient(SCREEN_W, 165, (246, 248, 250), (236, 240, 244)), (0, 33))
    ImageDraw.Draw(img).line([(0, 198), (SCREEN_W - 1, 198)], fill=BAR_LINE)
    img.paste(vgradient(SCREEN_W, 41, TOOL_TOP, TOOL_BOTTOM), (0, 199))
    draw_top_bar(img)
    draw_badge(img)
    draw_help_badge(img)
    draw_help_body(img, code, texts)
    return img


HELP_ROWS = [
    ("help.record", icon_record, RED, 12),
    ("help.play", icon_play, INK, 12),
    ("help.list", icon_list, INK, 14),
    ("help.back", icon_back, INK, 16),
    ("help.menu", icon_home, INK, 15),
]


def draw_help_body(img, code, texts):
    """One row per control, its icon on a small key cap, and a note at the foot."""
    text_x, text_w = 46, 266
    top, bottom = 36, 196
    for size in (13, 12, 11):
        reg, bold = font(code, size), font(code, size, True)
        line_h = size + 4
        rows = []
        for key, _, _, _ in HELP_ROWS:
            label, _, desc = texts[key].partition("|")
            runs = [(label.strip() + " ", bold, INK), (desc.strip(), reg, INK_SOFT)]
            rows.append(wrap(runs, text_w))
        nf = font(code, size - 1)
        note = wrap([(texts["help.note"], nf, INK_SOFT)], 296)
        note_h = len(note) * (size + 2)
        room = bottom - top - note_h - 7
        need = [max(25, len(r) * line_h + 4) for r in rows]
        if sum(need) <= room:
            break
    else:
        raise SystemExit("%s: the help text does not fit its page" % code)
    # Spread the spare room over the rows, but keep them together.
    pad = min(8, (room - sum(need)) // len(rows))
    row_h = [n + pad for n in need]
    y = top + (room - sum(row_h)) // 2
    for (key, fn, colour, isz), lines, rh in zip(HELP_ROWS, rows, row_h):
        kx, ky = 12, y + (rh - 22) // 2
        cap = Pen(26, 22)
        cap.rrect(0, 0, 26, 22, 5)
        paint(img, kx, ky + 1, cap.mask(), TILE_DROP)
        paint(img, kx, ky, cap.mask(), TILE_EDGE)
        inner = Pen(26, 22)
        inner.rrect(1, 1, 25, 21, 4)
        paint_image(img, kx, ky, inner.mask(), vgradient(26, 22, TILE_TOP, TILE_BOTTOM))
        ic = Pen(26, 22)
        fn(ic, 13, 11, isz * 0.78)
        paint(img, kx, ky, ic.mask(), colour)
        # Centre the text block on the key cap by the ink of its letters, not
        # by the font's line box, which is tall in the CJK faces.
        ref = texts[key][0] if code in NOTO_FACE else "H"
        t, b = bold.getbbox(ref, anchor="ls")[1::2]
        base = ky + 11 - (len(lines) - 1) * line_h / 2 - (t + b) / 2
        draw_lines(img, lines, text_x, int(round(base)), line_h, 0)
        y += rh
    ny = bottom - note_h
    ImageDraw.Draw(img).line([(12, ny - 5), (SCREEN_W - 13, ny - 5)], fill=(214, 220, 227))
    draw_lines(img, note, 12, ny - 1, size + 2, nf.getmetrics()[0])


# ---------------------------------------------------------------------------
# Buttons
# ---------------------------------------------------------------------------
def button_face(bg, icon, icon_colour, face, icon_size):
    """One frame of a button strip over the band pixels under the button."""
    img = bg.copy()
    w, h = img.size
    x0, y0, x1, y1 = 4, 3, w - 4, h - 3
    if w < 50:
        x0, x1 = 3, w - 3
    tw, th = x1 - x0, y1 - y0
    shape = Pen(tw, th)
    shape.rrect(0, 0, tw, th, 8)
    m = shape.mask()
    inner = Pen(tw, th)
    inner.rrect(1, 1, tw - 1, th - 1, 7)
    im = inner.mask()
    dy = 0
    if face == "normal" or face == "hover":
        paint(img, x0, y0 + 1, m, TILE_DROP)
        paint(img, x0, y0, m, BLUE if face == "hover" else TILE_EDGE)
        top, bottom = (HOVER_TOP, HOVER_BOTTOM) if face == "hover" else (TILE_TOP, TILE_BOTTOM)
        paint_image(img, x0, y0, im, vgradient(tw, th, top, bottom))
    elif face == "pressed":
        paint(img, x0, y0, m, PRESS_EDGE)
        paint_image(img, x0, y0, im, vgradient(tw, th, PRESS_TOP, PRESS_BOTTOM))
        lip = Pen(tw, th)
        lip.rrect(1, 1, tw - 1, th - 1, 7)
        lip.rrect(1, 3, tw - 1, th - 1, 7, fill=0)
        paint(img, x0, y0, lip.mask(), PRESS_INNER)
        dy = 1
    else:  # disabled
        paint(img, x0, y0, m, OFF_EDGE)
        paint(img, x0, y0, im, OFF_FILL)
        icon_colour = OFF_INK
    ic = Pen(w, h)
    icon(ic, w / 2, (y0 + y1) / 2 + dy, icon_size)
    paint(img, 0, 0, ic.mask(), icon_colour)
    return img


def button_strip(bg, icon, colour, icon_size, pressed_colour=None):
    faces = [
        button_face(bg, icon, colour, "normal", icon_size),
        button_face(bg, icon, pressed_colour or colour, "pressed", icon_size),
        button_face(bg, icon, colour, "hover", icon_size),
        button_face(bg, icon, colour, "disabled", icon_size),
    ]
    w, h = bg.size
    strip = Image.new("RGB", (4 * w, h))
    for k, f in enumerate(faces):
        strip.paste(f, (k * w, 0))
    return strip


# ---------------------------------------------------------------------------
# Glyphs
# ---------------------------------------------------------------------------
SMALL_GLYPHS = {
    "0": [".####.", "##..##", "##..##", "##..##", "##..##", "##..##", "##..##", "##..##",
          ".####."],
    "1": ["..##..", ".###..", "####..", "..##..", "..##..", "..##..", "..##..", "..##..",
          "######"],
    "2": [".####.", "##..##", "....##", "....##", "...##.", "..##..", ".##...", "##....",
          "######"],
    "3": [".####.", "##..##", "....##", "....##", "..###.", "....##", "....##", "##..##",
          ".####."],
    "4": ["...##.", "..###.", ".####.", "##.##.", "##.##.", "######", "...##.", "...##.",
          "...##."],
    "5": ["######", "##....", "##....", "#####.", "....##", "....##", "....##", "##..##",
          ".####."],
    "6": ["..###.", ".##...", "##....", "#####.", "##..##", "##..##", "##..##", "##..##",
          ".####."],
    "7": ["######", "....##", "....##", "...##.", "...##.", "..##..", "..##..", "..##..",
          "..##.."],
    "8": [".####.", "##..##", "##..##", "##..##", ".####.", "##..##", "##..##", "##..##",
          ".####."],
    "9": [".####.", "##..##", "##..##", "##..##", ".#####", "....##", "....##", "...##.",
          ".###.."],
    "A": ["..##..", ".####.", "##..##", "##..##", "##..##", "######", "##..##", "##..##",
          "##..##"],
    "P": ["#####.", "##..##", "##..##", "##..##", "#####.", "##....", "##....", "##....",
          "##...."],
    "M": ["##...##", "###.###", "#######", "##.#.##", "##...##", "##...##", "##...##",
          "##...##", "##...##"],
}


def blit_bitmap(img, rows, x, y, colour):
    px = img.load()
    for j, row in enumerate(rows):
        for i, c in enumerate(row):
            if c == "#":
                px[x + i, y + j] = colour


def battery_icon(bg, fill_bars, kind):
    """23x15 battery. kind: 'normal', 'low' (red, one bar) or 'charging'."""
    img = bg.copy()
    p = Pen(23, 15)
    p.rrect(1, 2, 20, 13, 2.2)
    p.rrect(2.4, 3.4, 18.6, 11.6, 1.2, fill=0)
    p.rrect(20, 5, 22.4, 10, 0.9)
    outline = RED if kind == "low" else INK
    paint(img, 0, 0, p.mask(), outline)
    bars = Pen(23, 15)
    for k in range(fill_bars):
        bx = 4 + 3.75 * k
        bars.rect(round(bx), 5, round(bx) + 3, 10)
    paint(img, 0, 0, bars.mask(), RED if kind == "low" else INK)
    if kind == "charging":
        bolt = Pen(23, 15)
        bolt.polygon([(12.2, 3.0), (7.6, 8.2), (10.6, 8.2), (9.6, 12.2), (14.2, 6.8),
                      (11.2, 6.8)])
        full = Pen(23, 15)
        full.rect(4, 5, 18, 10)
        paint(img, 0, 0, full.mask(), GREEN)
        paint(img, 0, 0, bolt.mask(), WHITE)
    return img


def seven_segment(bg, digit):
    """19x43 counter digit: lit segments over faint unlit ones."""
    segs = {
        "0": "abcdef", "1": "bc", "2": "abdeg", "3": "abcdg", "4": "bcfg",
        "5": "acdfg", "6": "acdefg", "7": "abc", "8": "abcdefg", "9": "abcdfg",
    }[digit]
    L, R, T, B, t = 2.0, 17.0, 3.0, 40.0, 3.0
    M = (T + B) / 2
    g = 0.55
    xl, xr = L + t / 2, R - t / 2
    yt, ym, yb = T + t / 2, M, B - t / 2

    def hseg(p, yc):
        a, b = xl + g, xr - g
        p.polygon([(a, yc), (a + t / 2, yc - t / 2), (b - t / 2, yc - t / 2), (b, yc),
                   (b - t / 2, yc + t / 2), (a + t / 2, yc + t / 2)])

    def vseg(p, xc, y0, y1):
        a, b = y0 + g, y1 - g
        p.polygon([(xc, a), (xc + t / 2, a + t / 2), (xc + t / 2, b - t / 2), (xc, b),
                   (xc - t / 2, b - t / 2), (xc - t / 2, a + t / 2)])

    shapes = {
        "a": lambda p: hseg(p, yt), "g": lambda p: hseg(p, ym), "d": lambda p: hseg(p, yb),
        "f": lambda p: vseg(p, xl, yt, ym), "b": lambda p: vseg(p, xr, yt, ym),
        "e": lambda p: vseg(p, xl, ym, yb), "c": lambda p: vseg(p, xr, ym, yb),
    }
    img = bg.copy()
    off, on = Pen(19, 43), Pen(19, 43)
    for name, fn in shapes.items():
        fn(on if name in segs else off)
    paint(img, 0, 0, off.mask(), DIGIT_OFF)
    paint(img, 0, 0, on.mask(), DIGIT_ON)
    return img


def big_colon(bg):
    img = bg.copy()
    p = Pen(6, 43)
    p.rect(1.5, 12.5, 4.5, 15.5)
    p.rect(1.5, 27.5, 4.5, 30.5)
    paint(img, 0, 0, p.mask(), DIGIT_ON)
    return img


def spare_icons(bg):
    """Five 11x11 icons nobody draws yet: mic, speaker, note, card, folder."""
    out = []
    for k in range(5):
        img = bg.copy()
        p = Pen(11, 11)
        if k == 0:
            icon_mic(p, 5.5, 5.5, 10)
        elif k == 1:
            p.polygon([(1, 4), (3.5, 4), (6.5, 1), (6.5, 10), (3.5, 7), (1, 7)])
            p.arc(6, 5.5, 3.6, 300, 60, 1.1)
        elif k == 2:
            p.circle(3.5, 8.5, 2.1)
            p.rect(4.6, 1, 5.8, 8.5)
            p.polygon([(5.8, 1), (9.5, 2.5), (9.5, 4.2), (5.8, 2.8)])
        elif k == 3:
            icon_sdcard(p, 5.5, 5.5, 10)
        else:
            p.rrect(0.5, 2, 10.5, 10, 1.2)
            p.rect(0.5, 1, 4.5, 3)
        paint(img, 0, 0, p.mask(), INK)
        out.append(img)
    return out


# ---------------------------------------------------------------------------
# The skin
# ---------------------------------------------------------------------------
def build_skin(screen):
    skin = Image.new("RGB", (SKIN_W, SKIN_H), FILLER)
    # Background bands: each lands at its own screen row (top at 0, middle at
    # 33, bottom at 195); the corner piece covers the screen's top-left corner.
    skin.paste(crop(screen, 0, 0, 320, 39), (0, 0))
    skin.paste(crop(screen, 0, 33, 320, 163), (0, 39))
    skin.paste(crop(screen, 0, 195, 320, 45), (0, 202))
    skin.paste(crop(screen, 0, 0, 31, 33), (492, 0))

    # Status bar glyphs over the bar pixels under the status area.
    same_under(screen, [(197 + k, 9, 1, 15) for k in range(120)], "the status bar")
    cell = crop(screen, 227, 11, 8, 11)
    for d in range(10):
        g = cell.copy()
        blit_bitmap(g, SMALL_GLYPHS[str(d)], 1, 1, INK)
        skin.paste(g, (55 + 8 * d, 247))
    colon = cell.copy()
    blit_bitmap(colon, ["##", "##"], 3, 3, INK)
    blit_bitmap(colon, ["##", "##"], 3, 7, INK)
    skin.paste(colon, (135, 247))
    for n, letter in enumerate("AP"):
        g = crop(screen, 272, 11, 18, 11)
        blit_bitmap(g, SMALL_GLYPHS[letter], 2, 1, INK_SOFT)
        blit_bitmap(g, SMALL_GLYPHS["M"], 9, 1, INK_SOFT)
        skin.paste(g, (143 + 18 * n, 247))
    hold = crop(screen, 212, 11, 11, 11)
    lock = Pen(11, 11)
    icon_padlock(lock)
    paint(hold, 0, 0, lock.mask(), AMBER)
    skin.paste(hold, (294, 247))
    for k, icon in enumerate(spare_icons(crop(screen, 197, 11, 11, 11))):
        skin.paste(icon, (11 * k, 247))
    # Battery: the level reported as 1 is the fullest and 4 the one that warns
    # of a low battery; the icon shown is level - 1. The fifth is a spare
    # charging face.
    under = crop(screen, 293, 9, 23, 15)
    for i, (bars, kind) in enumerate([(4, "normal"), (3, "normal"), (2, "normal"), (1, "low"),
                                      (0, "charging")]):
        skin.paste(battery_icon(under, bars, kind), (179 + 23 * i, 247))

    # Counter digits and colon over the display pixels under the counter.
    digits = [(x, 81, 19, 43) for x in (162, 181, 206, 225, 250, 269)]
    same_under(screen, digits, "the counter digits")
    same_under(screen, [(200, 81, 6, 43), (244, 81, 6, 43)], "the counter colons")
    under = crop(screen, 162, 81, 19, 43)
    for d in range(10):
        skin.paste(seven_segment(under, str(d)), (320 + 19 * d, 220))
    skin.paste(big_colon(crop(screen, 200, 81, 6, 43)), (510, 220))

    # Button strips. Play and record share the stop strip, so the bar must be
    # the same under both.
    same_under(screen, [(74, 196, 56, 44), (190, 196, 56, 44)], "the play and record buttons")
    under = crop(screen, 74, 196, 56, 44)
    skin.paste(button_strip(under, icon_play, INK, 18), (320, 44))
    skin.paste(button_strip(under, icon_stop, INK, 14), (320, 132))
    skin.paste(button_strip(under, icon_record, RED, 17, RED_DARK), (320, 176))
    skin.paste(button_strip(crop(screen, 277, 196, 43, 44), icon_list, INK, 18), (320, 0))
    return skin


# ---------------------------------------------------------------------------
# Help pages and message strips
# ---------------------------------------------------------------------------
def build_help(code, texts):
    page = draw_help_screen(code, texts)
    img = Image.new("RGB", (HELP_W, HELP_H), FILLER)
    img.paste(page, (0, 0))
    under = crop(page, 250, 204, 54, 33)
    faces = [button_face(under, icon_cross, INK, f, 12)
             for f in ("normal", "pressed", "hover", "disabled")]
    for k, f in enumerate(faces):
        img.paste(f, (54 * k, 240))
    img.paste(crop(page, 31, 0, 58, 33), (216, 240))
    img.paste(crop(page, 0, 0, 31, 33), (274, 240))
    return img


MSG_KIND = {0: "error", 1: "error", 2: "info", 3: "card", 4: "battery", 5: "warn", 6: "wait"}


def msg_icon(img, kind, cx, cy):
    disc = Pen(MSG_W, MSG_H)
    disc.circle(cx, cy, 16)
    colour = {"error": RED, "card": RED, "battery": AMBER, "warn": AMBER,
              "info": BLUE, "wait": BLUE}[kind]
    paint_image(img, 0, 0, disc.mask(),
                vgradient(MSG_W, MSG_H, mix(colour, WHITE, 0.18), mix(colour, (0, 0, 0), 0.12)))
    p = Pen(MSG_W, MSG_H)
    if kind in ("error", "warn"):
        p.rrect(cx - 2, cy - 10, cx + 2, cy + 4, 2)
        p.circle(cx, cy + 8.5, 2.3)
    elif kind == "info":
        p.line([(cx - 7, cy + 0.5), (cx - 2, cy + 5.5), (cx + 8, cy - 5.5)], 3.2)
    elif kind == "card":
        icon_sdcard(p, cx, cy, 20)
        p.rect(cx - 3, cy - 6, cx - 1.6, cy - 2, fill=0)
        p.rect(cx, cy - 6, cx + 1.4, cy - 2, fill=0)
        p.rect(cx + 3, cy - 6, cx + 4.4, cy - 2, fill=0)
    elif kind == "battery":
        p.rrect(cx - 10, cy - 6, cx + 8, cy + 6, 2)
        p.rrect(cx - 8.5, cy - 4.5, cx + 6.5, cy + 4.5, 1, fill=0)
        p.rect(cx + 8, cy - 2.5, cx + 10.5, cy + 2.5)
        p.rect(cx - 7, cy - 3, cx - 4, cy + 3)
    else:  # wait: a clock
        p.ring(cx, cy, 10, 2.2)
        p.line([(cx, cy - 6), (cx, cy), (cx + 4.5, cy + 3)], 2.2)
    paint(img, 0, 0, p.mask(), WHITE)


MSG_CARD = (4, 4, MSG_W - 4, MSG_H - 5)   # the dialog inside a frame
MSG_TEXT_X, MSG_TEXT_RIGHT = 54, 12           # text column, from the card's edges


def message_layout(code, texts):
    """The largest text size at which every message of a language fits, so that
    all dialogs of one language read alike."""
    x0, y0, x1, y1 = MSG_CARD
    tw, room = (x1 - x0) - MSG_TEXT_X - MSG_TEXT_RIGHT, (y1 - y0) - 14
    for size in (13, 12, 11):
        tf, bf = font(code, size + 2, True), font(code, size)
        layout = []
        for k in range(MSG_FRAMES):
            title = wrap([(texts["msg.%d.title" % k], tf, INK)], tw)
            body = wrap([(texts["msg.%d.body" % k], bf, INK_SOFT)], tw)
            layout.append((title, body))
        if all(len(t) == 1 and size + 9 + len(b) * (size + 4) <= room for t, b in layout):
            return size, tf, bf, layout
    raise SystemExit("%s: the messages do not fit their frames" % code)


def build_message_frame(k, under, size, tf, bf, title, body):
    img = under.copy()
    x0, y0, x1, y1 = MSG_CARD
    w, h = x1 - x0, y1 - y0
    p = Pen(w, h)
    p.rrect(0, 0, w, h, 9)
    m = p.mask()
    shadow(img, m, x0, y0 + 2, (0, 0, 0), 0.55, 2.0)
    paint(img, x0, y0, m, (150, 160, 172))
    inner = Pen(w, h)
    inner.rrect(1, 1, w - 1, h - 1, 8)
    paint_image(img, x0, y0, inner.mask(), vgradient(w, h, (255, 255, 255), (238, 242, 246)))
    kind = MSG_KIND[k]
    colour = {"error": RED, "card": RED, "battery": AMBER, "warn": AMBER,
              "info": BLUE, "wait": BLUE}[kind]
    accent = Pen(w, h)
    accent.rrect(1, 1, w - 1, h - 1, 8)
    accent.rect(1, 5, w - 1, h - 1, fill=0)
    paint(img, x0, y0, accent.mask(), colour)
    msg_icon(img, kind, x0 + 27, (y0 + y1) // 2 + 2)

    # Centre title and body together on the card below its accent strip, by
    # the ink of the letters rather than the fonts' tall line boxes.
    line_h = size + 4
    total = size + 9 + len(body) * line_h
    top = y0 + 5 + (h - 5 - total) // 2
    t_top = tf.getbbox(title[0][0][0], anchor="ls")[1]
    b_top = bf.getbbox(body[0][0][0], anchor="ls")[1]
    tx = x0 + MSG_TEXT_X
    draw_lines(img, title, tx, top - t_top, 0, 0)
    draw_lines(img, body, tx, top + size + 9 + (line_h - size) // 2 - b_top - 1, line_h, 0)
    return img


def build_messages(code, texts, screen):
    under = crop(screen, MSG_POS[0], MSG_POS[1], MSG_W, MSG_H)
    size, tf, bf, layout = message_layout(code, texts)
    strip = Image.new("RGB", (MSG_W, MSG_H * MSG_FRAMES))
    for k, (title, body) in enumerate(layout):
        strip.paste(build_message_frame(k, under, size, tf, bf, title, body), (0, MSG_H * k))
    return strip


def save(img, name):
    assert img.mode == "RGB"
    path = os.path.join(RES_DIR, name)
    img.save(path, optimize=True)
    print("wrote", os.path.relpath(path, ROOT), "%dx%d" % img.size)


def main():
    for path in (NOTO_REGULAR, NOTO_BOLD, DEJAVU_BOLD):
        if not os.path.exists(path):
            raise SystemExit("missing font %s (fonts-noto-cjk, fonts-dejavu-core)" % path)
    os.makedirs(RES_DIR, exist_ok=True)
    screen = draw_recorder_screen()
    skin = build_skin(screen)
    assert skin.size == (SKIN_W, SKIN_H)
    save(skin, "app_rec.png")
    for code, suffix in LANGUAGES:
        texts = read_texts(code)
        help_img = build_help(code, texts)
        # The status bar is drawn from the skin over the help page too.
        if crop(help_img, 197, 9, 120, 15).tobytes() != crop(screen, 197, 9, 120, 15).tobytes():
            raise SystemExit("%s: help page differs from the skin under the status bar" % code)
        assert help_img.size == (HELP_W, HELP_H)
        save(help_img, "app_rec_help%s.png" % suffix)
        strip = build_messages(code, texts, screen)
        assert strip.size == (MSG_W, MSG_H * MSG_FRAMES)
        save(strip, "app_rec_error%s.png" % suffix)


if __name__ == "__main__":
    main()
