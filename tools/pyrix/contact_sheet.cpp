#include "tools/pyrix/contact_sheet.h"

#include <algorithm>
#include <string>

namespace pyrix::preview {
namespace {

constexpr uint8_t kDigitGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr uint8_t kLetterGlyphs[26][5] = {
    {2, 5, 7, 5, 5}, {6, 5, 6, 5, 6}, {3, 4, 4, 4, 3}, {6, 5, 5, 5, 6}, {7, 4, 6, 4, 7},
    {7, 4, 6, 4, 4}, {3, 4, 5, 5, 3}, {5, 5, 7, 5, 5}, {7, 2, 2, 2, 7}, {1, 1, 1, 5, 2},
    {5, 5, 6, 5, 5}, {4, 4, 4, 4, 7}, {5, 7, 7, 5, 5}, {6, 5, 5, 5, 5}, {2, 5, 5, 5, 2},
    {6, 5, 6, 4, 4}, {2, 5, 5, 6, 3}, {6, 5, 6, 5, 5}, {3, 4, 2, 1, 6}, {7, 2, 2, 2, 2},
    {5, 5, 5, 5, 7}, {5, 5, 5, 5, 2}, {5, 5, 7, 7, 5}, {5, 5, 2, 5, 5}, {5, 5, 2, 2, 2},
    {7, 1, 2, 4, 7},
};
constexpr struct {
    char c;
    uint8_t rows[5];
} kSignGlyphs[] = {
    {'.', {0, 0, 0, 0, 2}}, {',', {0, 0, 0, 2, 4}}, {'-', {0, 0, 7, 0, 0}}, {':', {0, 2, 0, 2, 0}},
    {'=', {0, 7, 0, 7, 0}}, {'(', {1, 2, 2, 2, 1}}, {')', {4, 2, 2, 2, 4}},
};
constexpr uint8_t kInk = 230;

// Pixels outside the image are not drawn: labels and pictures are cut at its edges.
void PutPixel(FrameImage* image, int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= image->width || y >= image->height) return;
    uint8_t* p = image->row(static_cast<int32_t>(y)) + 4 * static_cast<size_t>(x);
    p[0] = 255;
    p[1] = r;
    p[2] = g;
    p[3] = b;
}

}  // namespace

uint8_t GlyphRow(char c, int row) {
    if (c >= '0' && c <= '9') return kDigitGlyphs[c - '0'][row];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return kLetterGlyphs[c - 'A'][row];
    for (const auto& sign : kSignGlyphs) {
        if (sign.c == c) return sign.rows[row];
    }
    return 0;
}

uint8_t DigitGlyphRow(int digit, int row) {
    return GlyphRow(static_cast<char>('0' + digit), row);
}

void DrawLabel(FrameImage* sheet, int32_t left, int32_t top, const std::string& text,
               int32_t scale) {
    for (size_t i = 0; i < text.size(); ++i) {
        // In 64 bits, and no further than the sheet: a long text runs off its right edge.
        const int64_t x0 = left + static_cast<int64_t>(i) * 4 * scale;
        if (x0 >= sheet->width) break;
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if ((GlyphRow(text[i], row) >> (2 - column) & 1) == 0) continue;
                for (int32_t dy = 0; dy < scale; ++dy) {
                    for (int32_t dx = 0; dx < scale; ++dx) {
                        PutPixel(sheet, x0 + int64_t{column} * scale + dx,
                                 top + int64_t{row} * scale + dy, kInk, kInk, kInk);
                    }
                }
            }
        }
    }
}

FrameImage BlankSheet(int32_t width, int32_t height) {
    FrameImage sheet = FrameImage::Blank(width, height, 8);
    for (int32_t y = 0; y < sheet.height; ++y) {
        for (int32_t x = 0; x < sheet.width; ++x) {
            PutPixel(&sheet, x, y, kSheetBackground, kSheetBackground, kSheetBackground);
        }
    }
    return sheet;
}

void PlaceOnSheet(FrameImage* sheet, int32_t left, int32_t top, const FrameImage& image) {
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* src = image.row(y);
        for (int32_t x = 0; x < image.width; ++x, src += 4) {
            // Straight alpha over the opaque background.
            uint8_t rgb[3];
            for (int c = 0; c < 3; ++c) {
                rgb[c] = static_cast<uint8_t>(
                    (src[1 + c] * src[0] + kSheetBackground * (255 - src[0]) + 127) / 255);
            }
            PutPixel(sheet, int64_t{left} + x, int64_t{top} + y, rgb[0], rgb[1], rgb[2]);
        }
    }
}

FrameImage MakeThumbnail(const FrameImage& frame, int32_t maxWidth, int32_t maxHeight) {
    const double scale = std::min({1.0, static_cast<double>(maxWidth) / frame.width,
                                   static_cast<double>(maxHeight) / frame.height});
    const int32_t width = std::max(1, static_cast<int32_t>(frame.width * scale));
    const int32_t height = std::max(1, static_cast<int32_t>(frame.height * scale));

    std::vector<uint8_t> rgba(4 * static_cast<size_t>(frame.width) * frame.height);
    for (int32_t y = 0; y < frame.height; ++y) {
        RowToRgba8(frame, y, rgba.data() + 4 * static_cast<size_t>(frame.width) * y);
    }

    FrameImage thumbnail = FrameImage::Blank(width, height, 8);
    for (int32_t ty = 0; ty < height; ++ty) {
        const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(ty) * frame.height / height);
        const int32_t y1 = std::max<int32_t>(
            y0 + 1, static_cast<int32_t>(static_cast<int64_t>(ty + 1) * frame.height / height));
        for (int32_t tx = 0; tx < width; ++tx) {
            const int32_t x0 = static_cast<int32_t>(static_cast<int64_t>(tx) * frame.width / width);
            const int32_t x1 = std::max<int32_t>(
                x0 + 1, static_cast<int32_t>(static_cast<int64_t>(tx + 1) * frame.width / width));
            uint64_t sum[4] = {0, 0, 0, 0};
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* p = rgba.data() + 4 * (static_cast<size_t>(frame.width) * y + x0);
                for (int32_t x = x0; x < x1; ++x, p += 4) {
                    for (int c = 0; c < 4; ++c) sum[c] += p[c];
                }
            }
            const uint64_t n = static_cast<uint64_t>(x1 - x0) * static_cast<uint64_t>(y1 - y0);
            uint8_t* out = thumbnail.row(ty) + 4 * static_cast<size_t>(tx);
            out[0] = static_cast<uint8_t>((sum[3] + n / 2) / n);  // ARGB
            for (int c = 0; c < 3; ++c) out[1 + c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return thumbnail;
}

FrameImage ComposeContactSheet(std::vector<Thumbnail> thumbnails,
                               const ContactSheetLayout& layout) {
    std::sort(thumbnails.begin(), thumbnails.end(),
              [](const Thumbnail& a, const Thumbnail& b) { return a.frame < b.frame; });
    int32_t cellWidth = 1;
    int32_t cellHeight = 1;
    for (const Thumbnail& t : thumbnails) {
        const auto digits = static_cast<int32_t>(std::to_string(t.frame).size());
        cellWidth = std::max({cellWidth, t.image.width, digits * 4 * layout.digitScale});
        cellHeight = std::max(cellHeight, t.image.height);
    }
    const int32_t count = std::max<int32_t>(1, static_cast<int32_t>(thumbnails.size()));
    const int32_t columns = std::clamp(layout.columns, 1, count);
    const int32_t rows = (count + columns - 1) / columns;
    const int32_t labelHeight = 5 * layout.digitScale + 2 * layout.digitScale;
    const int32_t pitchX = cellWidth + layout.gap;
    const int32_t pitchY = cellHeight + labelHeight + layout.gap;

    FrameImage sheet = BlankSheet(layout.gap + columns * pitchX, layout.gap + rows * pitchY);

    for (size_t i = 0; i < thumbnails.size(); ++i) {
        const Thumbnail& t = thumbnails[i];
        const int32_t left = layout.gap + static_cast<int32_t>(i) % columns * pitchX;
        const int32_t top = layout.gap + static_cast<int32_t>(i) / columns * pitchY;
        PlaceOnSheet(&sheet, left, top, t.image);
        DrawLabel(&sheet, left, top + t.image.height + layout.digitScale, std::to_string(t.frame),
                  layout.digitScale);
    }
    return sheet;
}

}  // namespace pyrix::preview
