// Generates the banner image at build time: a stylised flame and the effect's name in greys on
// a dark ground, drawn from shapes with analytic anti-aliasing. Writes the C++ source that
// defines kBannerImage, or a greyscale PNG of the same pixels for people to look at.
//
//   banner_gen --source <file.cpp>   the array compiled into the library
//   banner_gen --png <file.png>      the same image as a PNG
//
// Runs on the build machine (also when the library is cross-compiled), so it needs nothing but
// the standard library.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/banner_image.h"

using pyrix::kBannerHeight;
using pyrix::kBannerWidth;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec {
    double x, y;
};

Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}
double Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y;
}
double Length(Vec a) {
    return std::sqrt(Dot(a, a));
}

double Clamp01(double v) {
    return std::min(1.0, std::max(0.0, v));
}

// Coverage of a pixel whose centre lies `distance` outside a shape's edge (negative: inside).
double Coverage(double distance) {
    return Clamp01(0.5 - distance);
}

// ---- Grey canvas --------------------------------------------------------------------------------

class Canvas {
  public:
    Canvas() : grey_(static_cast<std::size_t>(kBannerWidth) * kBannerHeight, 0.0) {}

    double& at(int x, int y) { return grey_[static_cast<std::size_t>(y) * kBannerWidth + x]; }
    double at(int x, int y) const { return grey_[static_cast<std::size_t>(y) * kBannerWidth + x]; }

    // Lays `level` over every pixel with the coverage that `distance(x, y)` gives.
    template <typename DistanceFn>
    void Fill(double level, DistanceFn distance) {
        for (int y = 0; y < kBannerHeight; ++y) {
            for (int x = 0; x < kBannerWidth; ++x) {
                const double c = Coverage(distance(Vec{x + 0.5, y + 0.5}));
                if (c > 0.0) at(x, y) += (level - at(x, y)) * c;
            }
        }
    }

    uint8_t Byte(int x, int y) const {
        return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, at(x, y)))));
    }

  private:
    std::vector<double> grey_;
};

// ---- Ground -------------------------------------------------------------------------------------

constexpr Vec kFlameBase = {128.0, 206.0};

void PaintGround(Canvas& canvas) {
    for (int y = 0; y < kBannerHeight; ++y) {
        for (int x = 0; x < kBannerWidth; ++x) {
            const double fy = (y + 0.5) / kBannerHeight;
            double level = 34.0 - 12.0 * fy;  // lighter at the top
            // The flame's glow on the ground around it.
            const Vec d = Vec{x + 0.5, y + 0.5} - Vec{kFlameBase.x, kFlameBase.y - 70.0};
            level += 30.0 * std::exp(-Dot(d, d) / (2.0 * 78.0 * 78.0));
            canvas.at(x, y) = level;
        }
    }
}

// ---- Flame --------------------------------------------------------------------------------------

// A flame tongue: a round bottom of radius `radius` whose sides taper to a tip `height` above the
// base, the centre line bending sideways by `lean` at the tip and waving a little on the way.
struct Tongue {
    Vec base;  // lowest point
    double radius;
    double height;
    double lean;
    double wave;

    double Distance(Vec p) const {
        const Vec centre = {base.x, base.y - radius};
        const double up = centre.y - p.y;  // upwards from the bottom circle's centre
        if (up <= 0.0) return Length(p - centre) - radius;
        const double span = height - radius;
        const double t = up / span;
        if (t >= 1.0) return Length(p - TipPoint());
        const double axis = centre.x + lean * t * t + wave * std::sin(t * 2.4 * kPi) * t;
        const double half = radius * std::pow(1.0 - t, 1.25) * (1.0 - 0.25 * t * t) *
                            std::sqrt(1.0 - 0.6 * t + 0.6 * t * std::exp(-8.0 * t));
        // The sides are steep: the horizontal distance, slightly shortened by the taper, is
        // close enough to the true distance for edge smoothing.
        return (std::abs(p.x - axis) - half) * 0.92;
    }

    Vec TipPoint() const { return {base.x + lean, base.y - height}; }
};

void PaintFlame(Canvas& canvas) {
    const Vec b = kFlameBase;
    // Back to front: side tongues, body, inner flame, core.
    const std::array<std::pair<double, Tongue>, 6> layers = {{
        {76.0, Tongue{{b.x - 28.0, b.y - 6.0}, 26.0, 118.0, -40.0, 7.0}},
        {76.0, Tongue{{b.x + 30.0, b.y - 4.0}, 28.0, 136.0, 38.0, -8.0}},
        {112.0, Tongue{b, 52.0, 190.0, 12.0, -10.0}},
        {168.0, Tongue{{b.x + 2.0, b.y - 6.0}, 40.0, 132.0, -8.0, 6.0}},
        {214.0, Tongue{{b.x + 2.0, b.y - 12.0}, 24.0, 82.0, 6.0, -3.0}},
        {246.0, Tongue{{b.x + 2.0, b.y - 16.0}, 12.0, 40.0, 2.0, 0.0}},
    }};
    for (const auto& [level, tongue] : layers) {
        canvas.Fill(level, [&tongue = tongue](Vec p) { return tongue.Distance(p); });
    }
    // Embers rising beside the flame.
    const std::array<std::array<double, 4>, 6> embers = {{
        {b.x - 62.0, b.y - 150.0, 4.0, 150.0},
        {b.x + 66.0, b.y - 176.0, 3.5, 130.0},
        {b.x - 40.0, b.y - 190.0, 3.0, 120.0},
        {b.x + 44.0, b.y - 120.0, 4.5, 170.0},
        {b.x + 12.0, b.y - 200.0, 2.5, 110.0},
        {b.x - 74.0, b.y - 96.0, 3.0, 120.0},
    }};
    for (const auto& e : embers) {
        const Vec centre = {e[0], e[1]};
        const double radius = e[2];
        canvas.Fill(e[3], [centre, radius](Vec p) { return Length(p - centre) - radius; });
    }
}

// ---- Lettering ----------------------------------------------------------------------------------

// Glyphs are strokes of one width along segments and arcs, in font units with y upwards from
// the baseline.
struct Stroke {
    enum Kind { kSegment, kArc } kind;
    Vec a, b;         // segment ends; for an arc: centre and (radius, unused)
    double from, to;  // arc: angles in degrees, counter-clockwise from `from` to `to`
};

Stroke Segment(double x0, double y0, double x1, double y1) {
    return {Stroke::kSegment, {x0, y0}, {x1, y1}, 0.0, 0.0};
}
Stroke Arc(double cx, double cy, double radius, double from, double to) {
    return {Stroke::kArc, {cx, cy}, {radius, 0.0}, from, to};
}

double SegmentDistance(Vec p, Vec a, Vec b) {
    const Vec ab = b - a;
    const double len2 = Dot(ab, ab);
    const double t = len2 > 0.0 ? Clamp01(Dot(p - a, ab) / len2) : 0.0;
    return Length(p - Vec{a.x + ab.x * t, a.y + ab.y * t});
}

double ArcDistance(Vec p, const Stroke& arc) {
    const Vec c = arc.a;
    const double radius = arc.b.x;
    const double span = arc.to - arc.from;
    double angle = std::atan2(p.y - c.y, p.x - c.x) * 180.0 / kPi - arc.from;
    angle = std::fmod(std::fmod(angle, 360.0) + 360.0, 360.0);
    if (angle <= span) return std::abs(Length(p - c) - radius);
    auto end = [&](double degrees) {
        const double r = degrees * kPi / 180.0;
        return Vec{c.x + radius * std::cos(r), c.y + radius * std::sin(r)};
    };
    return std::min(Length(p - end(arc.from)), Length(p - end(arc.to)));
}

struct Glyph {
    char c;
    double width;
    std::vector<Stroke> strokes;
};

// x-height 60, cap height 88, descender 28.
const std::vector<Glyph>& Font() {
    static const std::vector<Glyph> font = {
        {'v', 48, {Segment(0, 60, 24, 0), Segment(24, 0, 48, 60)}},
        {'e', 60, {Segment(2, 30, 60, 30), Arc(30, 30, 30, 0, 318)}},
        {'x', 48, {Segment(0, 0, 48, 60), Segment(0, 60, 48, 0)}},
        {'o', 60, {Arc(30, 30, 30, 0, 360)}},
        {'_', 52, {Segment(0, -24, 52, -24)}},
        {'P',
         50,
         {Segment(0, 0, 0, 88), Segment(0, 88, 26, 88), Arc(26, 65, 23, -90, 90),
          Segment(26, 42, 0, 42)}},
        {'y', 50, {Segment(0, 60, 25, 0), Segment(50, 60, 13, -28)}},
        {'r', 44, {Segment(0, 0, 0, 60), Arc(30, 30, 30, 50, 180)}},
        {'i', 0, {Segment(0, 0, 0, 60), Segment(0, 86, 0, 86)}},
    };
    return font;
}

const Glyph& GlyphFor(char c) {
    for (const Glyph& glyph : Font()) {
        if (glyph.c == c) return glyph;
    }
    std::fprintf(stderr, "banner_gen: no glyph for '%c'\n", c);
    std::exit(1);
}

// Font units to image pixels.
constexpr double kFontScale = 0.9;
constexpr double kStrokeHalfWidth = 7.5;  // font units
constexpr double kLetterGap = 26.0;       // font units

// From the first glyph's left stroke centre to the last one's right, in image pixels.
double TextWidth(const std::string& text) {
    double width = 0.0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        width += GlyphFor(text[i]).width + (i + 1 < text.size() ? kLetterGap : 0.0);
    }
    return width * kFontScale;
}

// Draws `text` with its left stroke centre at `left` and its baseline at `baseline` (image
// pixels, y down); characters from `accentFrom` on take the level `accent`.
void PaintText(Canvas& canvas, const std::string& text, double left, double baseline, double level,
               std::size_t accentFrom, double accent) {
    double x = left;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Glyph& glyph = GlyphFor(text[i]);
        const double origin = x;
        canvas.Fill(i >= accentFrom ? accent : level, [&glyph, origin, baseline](Vec p) {
            const Vec q = {(p.x - origin) / kFontScale, (baseline - p.y) / kFontScale};
            double d = 1e9;
            for (const Stroke& s : glyph.strokes) {
                d = std::min(d, s.kind == Stroke::kSegment ? SegmentDistance(q, s.a, s.b)
                                                           : ArcDistance(q, s));
            }
            return (d - kStrokeHalfWidth) * kFontScale;
        });
        x += (glyph.width + kLetterGap) * kFontScale;
    }
}

Canvas RenderBanner() {
    Canvas canvas;
    PaintGround(canvas);
    PaintFlame(canvas);
    const std::string name = "vexo_Pyrix";
    const double textLeft = 262.0;
    const double textRight = kBannerWidth - 36.0;
    const double left = textLeft + (textRight - textLeft - TextWidth(name)) * 0.5;
    PaintText(canvas, name, left, 146.0, 168.0, name.find('P'), 236.0);
    return canvas;
}

// ---- Output -------------------------------------------------------------------------------------

bool WriteSource(const Canvas& canvas, const char* path) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    std::fprintf(file,
                 "// Generated by resources/banner_gen.cpp at build time; do not edit.\n"
                 "#include \"resources/banner_image.h\"\n\n"
                 "const uint8_t pyrix::kBannerImage[pyrix::kBannerImageSize] = {\n");
    for (int y = 0; y < kBannerHeight; ++y) {
        for (int x = 0; x < kBannerWidth; ++x) {
            const unsigned g = canvas.Byte(x, y);
            std::fprintf(file, "%u,%u,%u,255,%s", g, g, g, (x % 8 == 7) ? "\n" : "");
        }
    }
    std::fprintf(file, "};\n");
    return std::fclose(file) == 0;
}

// ---- PNG (greyscale, deflate in stored blocks: nothing beyond the standard library) ------------

uint32_t Crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBigEndian(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBigEndian(out, Crc32(body.data(), body.size()));
}

std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n & 0xFF));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n & 0xFF));
        z.push_back(static_cast<uint8_t>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;  // Adler-32
    for (uint8_t v : raw) {
        a = (a + v) % 65521u;
        b = (b + a) % 65521u;
    }
    PutBigEndian(z, (b << 16) | a);
    return z;
}

bool WritePng(const Canvas& canvas, const char* path) {
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(kBannerWidth + 1) * kBannerHeight);
    for (int y = 0; y < kBannerHeight; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < kBannerWidth; ++x) raw.push_back(canvas.Byte(x, y));
    }
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian(header, kBannerWidth);
    PutBigEndian(header, kBannerHeight);
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit greyscale, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(raw));
    PutChunk(png, "IEND", {});

    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 ||
        (std::strcmp(argv[1], "--source") != 0 && std::strcmp(argv[1], "--png") != 0)) {
        std::fprintf(stderr, "usage: banner_gen --source <file.cpp> | --png <file.png>\n");
        return 2;
    }
    const Canvas canvas = RenderBanner();
    const bool ok = std::strcmp(argv[1], "--source") == 0 ? WriteSource(canvas, argv[2])
                                                          : WritePng(canvas, argv[2]);
    if (!ok) {
        std::fprintf(stderr, "banner_gen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
