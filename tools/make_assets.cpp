// quellora-assets: builds the four pictures under assets/ from their rules.
//
//   quellora-assets OUTDIR      writes pattern1.bmp, pattern2.bmp, title.bmp and sample.bmp
//   quellora-assets --measure   prints the patterns' black counts and self-shift figures
//
// The patterns come from moire/patterns.cpp. The title card is lettered with
// FreeType from the DejaVu and Liberation fonts that tools/install-deps
// installs. The sample picture is a moiré frame reduced by averaging.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "moire/bitmap1.h"
#include "moire/bmp.h"
#include "moire/patterns.h"

namespace {

using quellora::Bitmap1;
using quellora::GreyPicture;

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// --- title card -------------------------------------------------------------

constexpr const char* kSerifBold = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
constexpr const char* kSansBold = "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf";

// One line of lettering, cropped to its black pixels.
struct Lettering {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> black;  // width * height, top row first
    bool At(int x, int y) const { return black[static_cast<size_t>(y) * width + x] != 0; }
};

struct Face {
    const char* path;
    double stretch;    // horizontal scale of the glyphs
    double embolden;   // extra stroke weight, in pixels
};

class FontRenderer {
public:
    FontRenderer() {
        if (FT_Init_FreeType(&lib_)) throw std::runtime_error("FreeType does not start");
    }
    ~FontRenderer() { FT_Done_FreeType(lib_); }
    FontRenderer(const FontRenderer&) = delete;
    FontRenderer& operator=(const FontRenderer&) = delete;

    // Draws `text` at `pixelSize` and keeps the pixels whose coverage is at
    // least half.
    Lettering Render(const Face& font, int pixelSize, const std::string& text) {
        FT_Face face = nullptr;
        if (FT_New_Face(lib_, font.path, 0, &face))
            throw std::runtime_error(std::string("cannot open the font ") + font.path +
                                     " (tools/install-deps installs it)");
        std::unique_ptr<FT_FaceRec_, decltype(&FT_Done_Face)> hold(face, &FT_Done_Face);
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize));

        const int cw = static_cast<int>((text.size() + 2) * pixelSize * (font.stretch + 1.0));
        const int ch = 3 * pixelSize, baseline = 2 * pixelSize;
        std::vector<uint8_t> canvas(static_cast<size_t>(cw) * ch, 0);

        FT_Matrix matrix{static_cast<FT_Fixed>(std::lround(font.stretch * 65536)), 0, 0, 0x10000};
        FT_Vector pen{static_cast<FT_Pos>(pixelSize) * 64, 0};  // 26.6 pixels
        FT_UInt previous = 0;
        for (unsigned char c : text) {
            const FT_UInt glyph = FT_Get_Char_Index(face, c);
            if (previous && FT_HAS_KERNING(face)) {
                FT_Vector kern;
                FT_Get_Kerning(face, previous, glyph, FT_KERNING_UNFITTED, &kern);
                pen.x += std::lround(kern.x * font.stretch);
            }
            FT_Set_Transform(face, &matrix, &pen);
            if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING))
                throw std::runtime_error("cannot load a glyph");
            FT_GlyphSlot slot = face->glyph;
            if (font.embolden > 0)
                FT_Outline_Embolden(&slot->outline, static_cast<FT_Pos>(std::lround(font.embolden * 64)));
            if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) throw std::runtime_error("cannot render a glyph");
            const FT_Bitmap& bm = slot->bitmap;
            for (unsigned r = 0; r < bm.rows; ++r)
                for (unsigned col = 0; col < bm.width; ++col) {
                    const int x = slot->bitmap_left + static_cast<int>(col);
                    const int y = baseline - slot->bitmap_top + static_cast<int>(r);
                    if (x < 0 || y < 0 || x >= cw || y >= ch) throw std::runtime_error("lettering off its canvas");
                    uint8_t& px = canvas[static_cast<size_t>(y) * cw + x];
                    px = static_cast<uint8_t>(std::min(255, px + bm.buffer[r * bm.pitch + col]));
                }
            pen.x += slot->advance.x;
            previous = glyph;
        }

        int x0 = cw, y0 = ch, x1 = -1, y1 = -1;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                if (canvas[static_cast<size_t>(y) * cw + x] >= 128) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                    y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
        Lettering out;
        if (x1 < 0) return out;
        out.width = x1 - x0 + 1;
        out.height = y1 - y0 + 1;
        out.black.resize(static_cast<size_t>(out.width) * out.height);
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                out.black[static_cast<size_t>(y) * out.width + x] =
                    canvas[static_cast<size_t>(y + y0) * cw + x + x0] >= 128;
        return out;
    }

    // Whether every one of `texts` fits a box of its own.
    bool Fits(const Face& font, int size, const std::vector<std::string>& texts, const std::vector<int>& widths,
              int height) {
        for (size_t i = 0; i < texts.size(); ++i) {
            const Lettering l = Render(font, size, texts[i]);
            if (l.width > widths[i] || l.height > height) return false;
        }
        return true;
    }

    // The largest size at which every one of `texts` fits a box of its own.
    int FitSize(const Face& font, const std::vector<std::string>& texts, const std::vector<int>& widths,
                int height) {
        int best = 0;
        for (int size = 4; size <= 2 * height; ++size)
            if (Fits(font, size, texts, widths, height)) best = size;
        if (!best) throw std::runtime_error("the lettering fits no size");
        return best;
    }

    // The widest horizontal scale, in hundredths, at which the texts still fit.
    double FitStretch(Face font, int size, const std::vector<std::string>& texts, const std::vector<int>& widths,
                      int height) {
        int best = 100;
        for (int hundredths = 100; hundredths <= 400; ++hundredths) {
            font.stretch = hundredths / 100.0;
            if (Fits(font, size, texts, widths, height)) best = hundredths;
        }
        return best / 100.0;
    }

private:
    FT_Library lib_ = nullptr;
};

// A line box of the card: rows top..bottom and columns left..right, inclusive.
struct LineBox {
    int top, bottom, left, right;
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
};

// Lettering starts at the box's left column and is centred in its rows.
void Place(Bitmap1& card, const Lettering& l, const LineBox& box) {
    if (l.width > box.Width() || l.height > box.Height()) throw std::runtime_error("lettering outside its box");
    const int top = box.top + (box.Height() - l.height) / 2;
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x)
            if (l.At(x, y)) card.Set(box.left + x, top + y, true);
}

Bitmap1 MakeTitleCard() {
    // The product title in wide bold serif capitals over two lines, the
    // version in small bold sans-serif, the maker's credit in bold serif.
    constexpr LineBox kTitle1{42, 67, 28, 237}, kTitle2{86, 111, 70, 293};
    constexpr LineBox kVersion{131, 140, 198, 276}, kCredit{188, 204, 63, 262};
    const std::string title1 = "QUEL", title2 = "LORA";
    // The title's strokes are thickened by 1.35 pixels, the credit's by 0.3,
    // which puts about 5,900 black pixels on the card.
    Face titleFace{kSerifBold, 1.0, 1.35};
    const Face versionFace{kSansBold, 1.0, 0.0};
    const Face creditFace{kSerifBold, 1.0, 0.3};

    FontRenderer fonts;
    // The capitals are as tall as the rows allow, then widened to fill them.
    const std::vector<std::string> titles{title1, title2};
    const std::vector<int> titleWidths{kTitle1.Width(), kTitle2.Width()};
    const int titleSize = fonts.FitSize(titleFace, titles, titleWidths, kTitle1.Height());
    titleFace.stretch = fonts.FitStretch(titleFace, titleSize, titles, titleWidths, kTitle1.Height());
    const int versionSize = fonts.FitSize(versionFace, {"Version 0.5"}, {kVersion.Width()}, kVersion.Height());
    const int creditSize = fonts.FitSize(creditFace, {"(c) 2002 Orvandel"}, {kCredit.Width()}, kCredit.Height());

    Bitmap1 card(320, 240);
    Place(card, fonts.Render(titleFace, titleSize, title1), kTitle1);
    Place(card, fonts.Render(titleFace, titleSize, title2), kTitle2);
    Place(card, fonts.Render(versionFace, versionSize, "Version 0.5"), kVersion);
    Place(card, fonts.Render(creditFace, creditSize, "(c) 2002 Orvandel"), kCredit);
    std::fprintf(stderr, "title card: sizes %d %d %d, title widened %.2f times, %lld black pixels\n", titleSize,
                 versionSize, creditSize, titleFace.stretch, card.CountBlack());
    return card;
}

// --- sample picture ---------------------------------------------------------

// The frame at Left = -289, the peak of the rosette whose hub is viewport pixel
// (590, 377). offX is -576 - Left.
constexpr int kLeft = -289;
constexpr int kOffX = -576 - kLeft;
constexpr int kViewW = 1024, kViewH = 768;
constexpr int kHubX = 590, kHubY = 377;

// The sample is 210 x 156; each of its pixels averages a 3.75 x 3.75 block of
// the frame. The light ring of the wheel around the hub, 100 to 115 frame
// pixels out, lands about 28 pixels out, with the hub at (127, 77).
constexpr int kSampleW = 210, kSampleH = 156;
constexpr double kScale = 3.75;
constexpr int kSampleHubX = 127, kSampleHubY = 77;

// The palette: every level from 255 down to 0 but these.
std::vector<uint8_t> SampleLevels() {
    constexpr int kMissing[] = {254, 250, 212, 194, 186, 141, 137, 134, 130, 107, 85,
                                81,  77,  59,  36,  32,  21,  17,  14,  10,  6,   2};
    std::vector<uint8_t> levels;
    for (int v = 255; v >= 0; --v)
        if (std::find(std::begin(kMissing), std::end(kMissing), v) == std::end(kMissing))
            levels.push_back(static_cast<uint8_t>(v));
    return levels;
}

// Weights of the frame pixels in [0, frameSize) that sample pixel i covers,
// for samples starting at `origin` with `scale` frame pixels each.
std::vector<std::vector<std::pair<int, double>>> AreaWeights(double origin, int count, int frameSize) {
    std::vector<std::vector<std::pair<int, double>>> w(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double a = origin + i * kScale, b = a + kScale;
        if (a < 0 || b > frameSize) throw std::runtime_error("the sample reaches outside the frame");
        for (int p = static_cast<int>(std::floor(a)); p < b; ++p) {
            const double part = std::min(b, p + 1.0) - std::max(a, static_cast<double>(p));
            if (part > 0) w[static_cast<size_t>(i)].push_back({p, part / kScale});
        }
    }
    return w;
}

GreyPicture MakeSample(const Bitmap1& p1, const Bitmap1& p2) {
    // The frame, as white fractions: 1 white, 0 black.
    std::vector<double> frame(static_cast<size_t>(kViewW) * kViewH);
    for (int t = 0; t < kViewH; ++t)
        for (int s = 0; s < kViewW; ++s)
            frame[static_cast<size_t>(t) * kViewW + s] = (p1.Get(s - kLeft, t) ^ p2.Get(s - kOffX, t)) ? 0.0 : 1.0;

    // Reduce by averaging; the hub's pixel centre lands on the sample's.
    const double ox = kHubX + 0.5 - (kSampleHubX + 0.5) * kScale;
    const double oy = kHubY + 0.5 - (kSampleHubY + 0.5) * kScale;
    const auto wx = AreaWeights(ox, kSampleW, kViewW);
    const auto wy = AreaWeights(oy, kSampleH, kViewH);
    const size_t n = static_cast<size_t>(kSampleW) * kSampleH;
    std::vector<double> white(n, 0.0);
    for (int y = 0; y < kSampleH; ++y)
        for (int x = 0; x < kSampleW; ++x) {
            double sum = 0;
            for (auto [t, a] : wy[static_cast<size_t>(y)])
                for (auto [s, b] : wx[static_cast<size_t>(x)]) sum += a * b * frame[static_cast<size_t>(t) * kViewW + s];
            white[static_cast<size_t>(y) * kSampleW + x] = sum;
        }

    // Pixels from darkest to lightest. Equal averages (whole blocks of black or
    // of white are common) are ordered by the average of their neighbourhood.
    std::vector<double> around(n, 0.0);
    for (int y = 0; y < kSampleH; ++y)
        for (int x = 0; x < kSampleW; ++x) {
            double sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = std::clamp(x + dx, 0, kSampleW - 1), yy = std::clamp(y + dy, 0, kSampleH - 1);
                    sum += white[static_cast<size_t>(yy) * kSampleW + xx];
                }
            around[static_cast<size_t>(y) * kSampleW + x] = sum;
        }
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (white[a] != white[b]) return white[a] < white[b];
        if (around[a] != around[b]) return around[a] < around[b];
        return a < b;
    });

    // Grey level 255 * white^gamma, snapped to the nearest palette level, then
    // every level given at least one pixel, and the levels handed out in the
    // order above. Gamma is chosen so that the mean level is 146.
    const std::vector<uint8_t> levels = SampleLevels();
    const int k = static_cast<int>(levels.size());
    auto nearest = [&](double v) {
        int best = 0;
        for (int i = 1; i < k; ++i)
            if (std::abs(levels[static_cast<size_t>(i)] - v) < std::abs(levels[static_cast<size_t>(best)] - v)) best = i;
        return best;
    };
    auto counts = [&](double gamma) {
        std::vector<int> c(static_cast<size_t>(k), 0);
        for (double w : white) ++c[static_cast<size_t>(nearest(255.0 * std::pow(w, gamma)))];
        for (int i = 0; i < k; ++i) {
            for (int r = 1; c[static_cast<size_t>(i)] == 0 && r < k; ++r)
                for (int j : {i - r, i + r})
                    if (j >= 0 && j < k && c[static_cast<size_t>(j)] >= 2 && c[static_cast<size_t>(i)] == 0) {
                        --c[static_cast<size_t>(j)];
                        ++c[static_cast<size_t>(i)];
                    }
        }
        return c;
    };
    auto mean = [&](const std::vector<int>& c) {
        double sum = 0;
        for (int i = 0; i < k; ++i) sum += static_cast<double>(c[static_cast<size_t>(i)]) * levels[static_cast<size_t>(i)];
        return sum / static_cast<double>(n);
    };
    double lo = 0.3, hi = 2.0;  // a larger gamma darkens
    for (int step = 0; step < 30; ++step) {
        const double mid = (lo + hi) / 2;
        (mean(counts(mid)) < 146.0 ? hi : lo) = mid;
    }
    const std::vector<int> c = counts((lo + hi) / 2);

    GreyPicture sample;
    sample.width = kSampleW;
    sample.height = kSampleH;
    sample.levels = levels;
    sample.indices.resize(n);
    size_t next = 0;
    for (int i = k - 1; i >= 0; --i)
        for (int m = 0; m < c[static_cast<size_t>(i)]; ++m) sample.indices[order[next++]] = static_cast<uint8_t>(i);
    std::fprintf(stderr, "sample: gamma %.4f, mean level %.3f\n", (lo + hi) / 2, mean(c));
    return sample;
}

// --- figures ----------------------------------------------------------------

void Measure(const char* name, const Bitmap1& p) {
    const auto side = quellora::BestSidewaysShift(p, p.Width() / 2);
    const auto down = quellora::BestVerticalShift(p, p.Height() / 2);
    std::printf("%s: %lld black pixels (%.2f %%); sideways shifts: at least %.2f %% differ (best %d); "
                "vertical shifts: at least %.2f %% differ (best %d)\n",
                name, p.CountBlack(), 100.0 * static_cast<double>(p.CountBlack()) / (1.0 * p.Width() * p.Height()),
                100 * side.differing, side.shift, 100 * down.differing, down.shift);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: quellora-assets OUTDIR | --measure\n");
        return 2;
    }
    try {
        const Bitmap1 p1 = quellora::GeneratePattern1();
        const Bitmap1 p2 = quellora::GeneratePattern2();
        if (std::strcmp(argv[1], "--measure") == 0) {
            Measure("pattern1", p1);
            Measure("pattern2", p2);
            return 0;
        }
        const std::string dir = argv[1];
        WriteFile(dir + "/pattern1.bmp", quellora::EncodeBmp1(p1));
        WriteFile(dir + "/pattern2.bmp", quellora::EncodeBmp1(p2));
        WriteFile(dir + "/title.bmp", quellora::EncodeBmp1(MakeTitleCard()));
        WriteFile(dir + "/sample.bmp", quellora::EncodeBmpGrey(MakeSample(p1, p2)));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quellora-assets: %s\n", e.what());
        return 1;
    }
    return 0;
}
