// quellora-render: writes moiré frames of the sweep as the saver shows them,
// without a display. Step 0 is the first frame after the patterns load; each
// further step is one move of the sweep.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <png.h>

#include "moire/assets.h"
#include "moire/animation.h"
#include "moire/bmp.h"
#include "platform/text.h"

namespace {

using quellora::Bitmap1;
using quellora::ParseCount;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: quellora-render --step N --out FILE.bmp|FILE.png [--title]\n"
    "       quellora-render --steps A:B --out DIR [--format bmp|png] [--title]";

struct Options {
    long long first = -1, last = -1;
    bool range = false;
    bool title = false;
    bool png = false;  // folder output: PNG files instead of BMP
    std::string out;
};

// Returns an error text, or empty when the arguments are good.
std::string Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) -> bool {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--step") {
            if (!value(v)) return "--step needs a number";
            auto n = ParseCount(v);
            if (!n) return "--step needs a whole number of steps, not '" + v + "'";
            o.first = o.last = *n;
            o.range = false;
        } else if (a == "--steps") {
            if (!value(v)) return "--steps needs A:B";
            const auto colon = v.find(':');
            auto a1 = colon == std::string::npos ? std::nullopt : ParseCount(v.substr(0, colon));
            auto b1 = colon == std::string::npos ? std::nullopt : ParseCount(v.substr(colon + 1));
            if (!a1 || !b1 || *a1 > *b1) return "--steps needs A:B with whole numbers A <= B, not '" + v + "'";
            o.first = *a1;
            o.last = *b1;
            o.range = true;
        } else if (a == "--out") {
            if (!value(o.out) || o.out.empty()) return "--out needs a file or folder name";
        } else if (a == "--format") {
            if (!value(v) || (v != "bmp" && v != "png")) return "--format needs bmp or png";
            o.png = v == "png";
        } else if (a == "--title") {
            o.title = true;
        } else {
            return "unknown argument '" + a + "'";
        }
    }
    if (o.first < 0) return "say which frame: --step N or --steps A:B";
    if (o.out.empty()) return "say where to write: --out FILE.bmp, FILE.png or a folder";
    return {};
}

bool EndsWith(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    return strcasecmp(s.c_str() + s.size() - tail.size(), tail.c_str()) == 0;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool WritePng(const std::string& path, const Bitmap1& frame) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    // 1-bit greyscale: a set bit is white, so invert the black index.
    png_set_IHDR(png, info, frame.Width(), frame.Height(), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row((frame.Width() + 7) / 8);
    for (int y = 0; y < frame.Height(); ++y) {
        const uint64_t* words = frame.Row(y);
        for (size_t b = 0; b < row.size(); ++b)
            row[b] = static_cast<uint8_t>(~(words[b / 8] >> (56 - 8 * (b % 8))));
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::string err = Parse(argc, argv, o); !err.empty()) {
        std::cerr << "quellora-render: " << err << "\n" << kUsage << "\n";
        return 2;
    }
    if (!o.range && !EndsWith(o.out, ".png") && !EndsWith(o.out, ".bmp")) {
        std::cerr << "quellora-render: --out must end in .bmp or .png for a single frame\n";
        return 2;
    }
    if (o.range) {
        std::error_code ec;
        fs::create_directories(o.out, ec);
        if (ec || !fs::is_directory(o.out)) {
            std::cerr << "quellora-render: can't make folder '" << o.out << "': " << ec.message() << "\n";
            return 1;
        }
    }

    // The clock stands before the title card's end when the card is wanted,
    // and after it otherwise.
    uint32_t now = o.title ? 0 : quellora::moire::kTitleDuration;
    quellora::moire::Animation anim([&now] { return now; },
                                    {&quellora::Img1Picture(), &quellora::Img2Picture(), &quellora::TitlePicture()});
    anim.InitState();
    anim.CreateBuffers();
    anim.BmpInit();
    for (long long step = 0; step <= o.last; ++step) {
        if (step > 0) anim.AutoMove();
        if (step < o.first) continue;
        anim.ReDraw();
        const Bitmap1 frame = anim.ViewportPicture();
        std::string path = o.out;
        if (o.range) {
            char name[32];
            std::snprintf(name, sizeof name, "step%05lld.%s", step, o.png ? "png" : "bmp");
            path = (fs::path(o.out) / name).string();
        }
        const bool ok = EndsWith(path, ".png") ? WritePng(path, frame)
                                               : WriteBytes(path, quellora::EncodeBmp1(frame));
        if (!ok) {
            std::cerr << "quellora-render: can't write '" << path << "': " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    if (o.range)
        std::cout << "wrote steps " << o.first << " to " << o.last << " into " << o.out << "\n";
    else
        std::cout << "wrote step " << o.first << " to " << o.out << "\n";
    return 0;
}
