// Ways of putting the 1-bit frame into a 24-bit X window, for
// bench/x11_upload_ways.py:
//
//   bitmap        a 1-bit XYBitmap shared-memory image, XShmPutImage: the
//                 server expands it to 32 bits (FrameUpload's way);
//   bitmap-plain  the same image in a plain XPutImage, as to a server on
//                 another machine (FrameUpload's fallback);
//   zpixmap32     a 32-bit ZPixmap shared-memory image expanded here (a table
//                 of eight pixels for every byte), XShmPutImage: the server
//                 copies it;
//   pixmap32      the same 32 bits in a shared-memory pixmap, XCopyArea;
//   plane         a 1-bit shared-memory pixmap, XCopyPlane into the window;
//   put-plane     a 1-bit XYBitmap shared image put into a 1-bit pixmap, then
//                 XCopyPlane;
//   render-a1     the 1-bit shared pixmap, inverted, as an A1 XRender mask:
//                 solid white through it with PictOpSrc (0 bits come out
//                 black).
//   xor-stipple   only what changed: the bits that differ from the last frame
//                 in a 1-bit shared pixmap, used as the stipple of one
//                 XFillRectangle that exclusive-ors black ^ white into the
//                 window where a bit is set (the first frame over white).
//
//   x11_upload_ways WAY SECONDS SCALE
//
// Runs the sweep at 25 frames a second in a window over the whole screen, the
// viewport (1024 x 768 times SCALE, enlarged by the core as quellora does)
// centred. After a second of frames it prints "ready", then runs SECONDS and
// prints "frames=F steps=S cpu_ms=C wall_ms=W" (its own CPU), and keeps the
// last frame on screen until stdin closes; the script measures the X server
// beside it and looks at the pixels. Exit code 3: the server can't do WAY.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "moire/animation.h"
#include "moire/assets.h"
#include "moire/scale.h"
#include "platform/x11/bitmap_pack.h"

namespace {

using quellora::Bitmap1;
using quellora::x11::BitmapLayout;
using quellora::x11::PackBitmapRows;
using quellora::x11::PackedStride;

// Expands 1-bit rows to 32-bit pixels, eight at a time through a table of
// every byte's eight pixels, stored in the byte order the server reads.
class PixelExpander {
public:
    PixelExpander(uint32_t ink, uint32_t paper, bool msbFirstBytes) {
        if (msbFirstBytes != (std::endian::native == std::endian::big)) {
            ink = __builtin_bswap32(ink);
            paper = __builtin_bswap32(paper);
        }
        for (int b = 0; b < 256; ++b)
            for (int i = 0; i < 8; ++i) table_[b][i] = (b & (0x80 >> i)) ? ink : paper;
    }
    // The w x h rectangle at (sx, 0) of `picture`, w a multiple of 64, to
    // `out`, one row every `stride` bytes.
    void Expand(const Bitmap1& picture, int sx, int w, int h, uint8_t* out, size_t stride) const {
        const int k0 = sx >> 6, shift = sx & 63, srcWords = picture.WordsPerRow();
        for (int y = 0; y < h; ++y) {
            const uint64_t* row = picture.Row(y);
            uint8_t* dst = out + static_cast<size_t>(y) * stride;
            for (int k = k0; k < k0 + w / 64; ++k) {
                uint64_t v = row[k];
                if (shift) v = (v << shift) | (k + 1 < srcWords ? row[k + 1] >> (64 - shift) : 0);
                for (int i = 0; i < 8; ++i, v <<= 8, dst += 32) std::memcpy(dst, table_[v >> 56], 32);
            }
        }
    }

private:
    uint32_t table_[256][8];
};

using quellora::bench::CpuMs;
using quellora::bench::NowMs;

[[noreturn]] void Unsupported(const char* why) {
    std::fprintf(stderr, "x11_upload_ways: %s\n", why);
    std::exit(3);
}

// A shared-memory segment attached to the server, removed however we end.
struct Segment {
    XShmSegmentInfo info{};
    Segment(Display* dpy, size_t bytes) {
        info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (info.shmid < 0) Unsupported("no shared memory");
        info.shmaddr = static_cast<char*>(shmat(info.shmid, nullptr, 0));
        info.readOnly = False;
        if (!XShmAttach(dpy, &info)) Unsupported("XShmAttach failed");
        XSync(dpy, False);
        shmctl(info.shmid, IPC_RMID, nullptr);
    }
    uint8_t* Data() const { return reinterpret_cast<uint8_t*>(info.shmaddr); }
};

struct Target {
    Display* dpy;
    Visual* visual;
    Window win;
    GC gc;  // foreground black, background white
    int vx, vy, vw, vh;
    BitmapLayout layout;
};

class Way {
public:
    virtual ~Way() = default;
    // Puts the viewport-wide rectangle at (sx, 0) of `frame`.
    virtual void Put(const Bitmap1& frame, int sx) = 0;
};

// Today's way: the 1-bit image, expanded by the server.
class BitmapWay : public Way {
public:
    BitmapWay(const Target& s, bool shared) : s_(s), stride_(PackedStride(s.vw)), seg_(s.dpy, stride_ * s.vh) {
        const unsigned width = static_cast<unsigned>(stride_ * 8);
        if (shared) {
            image_ = XShmCreateImage(s.dpy, s.visual, 1, XYBitmap, reinterpret_cast<char*>(seg_.Data()), &seg_.info,
                                     width, static_cast<unsigned>(s.vh));
        } else {
            // What a server on another machine gets: the same bits in the request.
            image_ = XCreateImage(s.dpy, s.visual, 1, XYBitmap, 0, reinterpret_cast<char*>(seg_.Data()), width,
                                  static_cast<unsigned>(s.vh), 32, static_cast<int>(stride_));
        }
        shared_ = shared;
    }
    void Put(const Bitmap1& f, int sx) override {
        PackBitmapRows(f, sx, 0, s_.vw, s_.vh, s_.layout, seg_.Data(), stride_);
        if (shared_)
            XShmPutImage(s_.dpy, s_.win, s_.gc, image_, 0, 0, s_.vx, s_.vy, s_.vw, s_.vh, False);
        else
            XPutImage(s_.dpy, s_.win, s_.gc, image_, 0, 0, s_.vx, s_.vy, s_.vw, s_.vh);
    }

private:
    const Target& s_;
    size_t stride_;
    Segment seg_;
    XImage* image_;
    bool shared_ = true;
};

PixelExpander MakeExpander(const Target& s) {
    const int screen = DefaultScreen(s.dpy);
    return PixelExpander(static_cast<uint32_t>(BlackPixel(s.dpy, screen)),
                         static_cast<uint32_t>(WhitePixel(s.dpy, screen)), ImageByteOrder(s.dpy) == MSBFirst);
}

// 32-bit pixels made here, copied by the server from an image or a pixmap.
class Zpixmap32Way : public Way {
public:
    Zpixmap32Way(const Target& s, bool pixmap)
        : s_(s), expand_(MakeExpander(s)), seg_(s.dpy, static_cast<size_t>(s.vw) * 4 * s.vh) {
        if (DefaultDepth(s.dpy, DefaultScreen(s.dpy)) != 24) Unsupported("not a 24-bit screen");
        if (pixmap) {
            int major, minor;
            Bool shared = False;
            if (!XShmQueryVersion(s.dpy, &major, &minor, &shared) || !shared || XShmPixmapFormat(s.dpy) != ZPixmap)
                Unsupported("no shared pixmaps");
            pixmap_ = XShmCreatePixmap(s.dpy, s.win, reinterpret_cast<char*>(seg_.Data()), &seg_.info,
                                       static_cast<unsigned>(s.vw), static_cast<unsigned>(s.vh), 24);
        } else {
            image_ = XShmCreateImage(s.dpy, s.visual, 24, ZPixmap, reinterpret_cast<char*>(seg_.Data()), &seg_.info,
                                     static_cast<unsigned>(s.vw), static_cast<unsigned>(s.vh));
            if (image_->bits_per_pixel != 32 || image_->bytes_per_line != s.vw * 4)
                Unsupported("not 32 bits a pixel");
        }
    }
    void Put(const Bitmap1& f, int sx) override {
        expand_.Expand(f, sx, s_.vw, s_.vh, seg_.Data(), static_cast<size_t>(s_.vw) * 4);
        if (pixmap_)
            XCopyArea(s_.dpy, pixmap_, s_.win, s_.gc, 0, 0, s_.vw, s_.vh, s_.vx, s_.vy);
        else
            XShmPutImage(s_.dpy, s_.win, s_.gc, image_, 0, 0, s_.vx, s_.vy, s_.vw, s_.vh, False);
    }

private:
    const Target& s_;
    PixelExpander expand_;
    Segment seg_;
    XImage* image_ = nullptr;
    Pixmap pixmap_ = 0;
};

// A 1-bit pixmap, in shared memory or filled by a shared image, copied into
// the window by XCopyPlane or through XRender.
class PlaneWay : public Way {
public:
    enum Kind { kShared, kPut, kRender };
    PlaneWay(const Target& s, Kind kind) : s_(s), kind_(kind), stride_(PackedStride(s.vw)), seg_(s.dpy, stride_ * s.vh) {
        const unsigned width = static_cast<unsigned>(stride_ * 8);
        if (kind == kPut) {
            pixmap_ = XCreatePixmap(s.dpy, s.win, width, static_cast<unsigned>(s.vh), 1);
            image_ = XShmCreateImage(s.dpy, s.visual, 1, XYBitmap, reinterpret_cast<char*>(seg_.Data()), &seg_.info,
                                     width, static_cast<unsigned>(s.vh));
            XGCValues gv{};
            gv.foreground = 1;
            gv.background = 0;
            gv.graphics_exposures = False;
            gc1_ = XCreateGC(s.dpy, pixmap_, GCForeground | GCBackground | GCGraphicsExposures, &gv);
        } else {
            int major, minor;
            Bool shared = False;
            if (!XShmQueryVersion(s.dpy, &major, &minor, &shared) || !shared) Unsupported("no shared pixmaps");
            // A depth-1 pixmap is the server's bitmap layout, rows padded to 32 bits.
            pixmap_ = XShmCreatePixmap(s.dpy, s.win, reinterpret_cast<char*>(seg_.Data()), &seg_.info, width,
                                       static_cast<unsigned>(s.vh), 1);
        }
        if (kind == kRender) {
            int event, error;
            if (!XRenderQueryExtension(s.dpy, &event, &error)) Unsupported("no XRender");
            mask_ = XRenderCreatePicture(s.dpy, pixmap_, XRenderFindStandardFormat(s.dpy, PictStandardA1), 0, nullptr);
            dst_ = XRenderCreatePicture(s.dpy, s.win, XRenderFindVisualFormat(s.dpy, s.visual), 0, nullptr);
            const XRenderColor white{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
            white_ = XRenderCreateSolidFill(s.dpy, &white);
        }
    }
    void Put(const Bitmap1& f, int sx) override {
        PackBitmapRows(f, sx, 0, s_.vw, s_.vh, s_.layout, seg_.Data(), stride_);
        if (kind_ == kRender) {
            // White where the mask is set: the picture's 0 bits.
            auto* words = reinterpret_cast<uint64_t*>(seg_.Data());
            for (size_t i = 0; i < stride_ / 8 * s_.vh; ++i) words[i] = ~words[i];
            XRenderComposite(s_.dpy, PictOpSrc, white_, mask_, dst_, 0, 0, 0, 0, s_.vx, s_.vy, s_.vw, s_.vh);
            return;
        }
        if (kind_ == kPut) XShmPutImage(s_.dpy, pixmap_, gc1_, image_, 0, 0, 0, 0, s_.vw, s_.vh, False);
        XCopyPlane(s_.dpy, pixmap_, s_.win, s_.gc, 0, 0, s_.vw, s_.vh, s_.vx, s_.vy, 1);
    }

private:
    const Target& s_;
    Kind kind_;
    size_t stride_;
    Segment seg_;
    Pixmap pixmap_ = 0;
    XImage* image_ = nullptr;
    GC gc1_ = nullptr;
    Picture mask_ = 0, dst_ = 0, white_ = 0;
};

// Only the change: the last frame is on screen, so exclusive-or the pixels
// that differ. The server touches about one pixel in eight of a frame.
class XorStippleWay : public Way {
public:
    explicit XorStippleWay(const Target& s)
        : s_(s), stride_(PackedStride(s.vw)), seg_(s.dpy, stride_ * s.vh), cur_(stride_ * s.vh / 8),
          last_(stride_ * s.vh / 8, 0) {
        int major, minor;
        Bool shared = False;
        if (!XShmQueryVersion(s.dpy, &major, &minor, &shared) || !shared) Unsupported("no shared pixmaps");
        diff_ = XShmCreatePixmap(s.dpy, s.win, reinterpret_cast<char*>(seg_.Data()), &seg_.info,
                                 static_cast<unsigned>(stride_ * 8), static_cast<unsigned>(s.vh), 1);
        const int screen = DefaultScreen(s.dpy);
        const unsigned long black = BlackPixel(s.dpy, screen), white = WhitePixel(s.dpy, screen);
        XGCValues gv{};
        gv.function = GXxor;
        gv.foreground = black ^ white;
        gv.fill_style = FillStippled;
        gv.stipple = diff_;
        gv.ts_x_origin = s.vx;
        gv.ts_y_origin = s.vy;
        gv.graphics_exposures = False;
        gc_ = XCreateGC(s.dpy, s.win,
                        GCFunction | GCForeground | GCFillStyle | GCStipple | GCTileStipXOrigin | GCTileStipYOrigin |
                            GCGraphicsExposures,
                        &gv);
        // The frame before the first: all white.
        XSetForeground(s.dpy, s.gc, white);
        XFillRectangle(s.dpy, s.win, s.gc, s.vx, s.vy, s.vw, s.vh);
        XSetForeground(s.dpy, s.gc, black);
    }
    void Put(const Bitmap1& f, int sx) override {
        PackBitmapRows(f, sx, 0, s_.vw, s_.vh, s_.layout, reinterpret_cast<uint8_t*>(cur_.data()), stride_);
        auto* diff = reinterpret_cast<uint64_t*>(seg_.Data());
        for (size_t i = 0; i < cur_.size(); ++i) diff[i] = cur_[i] ^ last_[i];
        cur_.swap(last_);
        XSetStipple(s_.dpy, gc_, diff_);  // the pixmap has changed since the GC last saw it
        XFillRectangle(s_.dpy, s_.win, gc_, s_.vx, s_.vy, s_.vw, s_.vh);
    }

private:
    const Target& s_;
    size_t stride_;
    Segment seg_;
    std::vector<uint64_t> cur_, last_;
    Pixmap diff_ = 0;
    GC gc_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: x11_upload_ways bitmap|bitmap-plain|zpixmap32|pixmap32|plane|put-plane|render-a1|xor-stipple SECONDS SCALE\n");
        return 2;
    }
    const std::string way = argv[1];
    const double seconds = std::atof(argv[2]);
    const int n = std::atoi(argv[3]);
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return 1;
    if (!XShmQueryExtension(dpy)) Unsupported("no MIT-SHM");
    const int screen = DefaultScreen(dpy);
    const int sw = DisplayWidth(dpy, screen), sh = DisplayHeight(dpy, screen);
    Target s{dpy, DefaultVisual(dpy, screen), 0, nullptr, 0, 0, 1024 * n, 768 * n, {}};
    s.vx = (sw - s.vw) / 2;
    s.vy = (sh - s.vh) / 2;
    s.layout.unit = BitmapUnit(dpy);
    s.layout.msbFirstBits = BitmapBitOrder(dpy) == MSBFirst;
    s.layout.msbFirstBytes = ImageByteOrder(dpy) == MSBFirst;

    XSetWindowAttributes swa{};
    swa.background_pixel = BlackPixel(dpy, screen);
    swa.override_redirect = True;
    s.win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, sw, sh, 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWBackPixel | CWOverrideRedirect, &swa);
    XMapRaised(dpy, s.win);
    XGCValues gv{};
    gv.foreground = BlackPixel(dpy, screen);
    gv.background = WhitePixel(dpy, screen);
    gv.graphics_exposures = False;
    s.gc = XCreateGC(dpy, s.win, GCForeground | GCBackground | GCGraphicsExposures, &gv);

    std::unique_ptr<Way> put;
    if (way == "bitmap" || way == "bitmap-plain")
        put = std::make_unique<BitmapWay>(s, way == "bitmap");
    else if (way == "zpixmap32" || way == "pixmap32")
        put = std::make_unique<Zpixmap32Way>(s, way == "pixmap32");
    else if (way == "plane")
        put = std::make_unique<PlaneWay>(s, PlaneWay::kShared);
    else if (way == "put-plane")
        put = std::make_unique<PlaneWay>(s, PlaneWay::kPut);
    else if (way == "render-a1")
        put = std::make_unique<PlaneWay>(s, PlaneWay::kRender);
    else if (way == "xor-stipple")
        put = std::make_unique<XorStippleWay>(s);
    else
        Unsupported("no such way");

    uint32_t now = 100000;
    quellora::moire::Animation anim([&] { return now; }, {&quellora::Img1Picture(), &quellora::Img2Picture(),
                                                          &quellora::TitlePicture()});
    anim.InitState();
    anim.CreateBuffers();
    anim.BmpInit();
    Bitmap1 frame;
    XSync(dpy, False);

    long steps = 0;
    auto run = [&](double ms) {
        const double start = NowMs();
        long frames = 0;
        while (NowMs() - start < ms) {
            anim.AutoMove();
            anim.ReDraw();
            ++steps;
            const auto& img = anim.Image1();
            if (n == 1) {
                put->Put(img.picture, -img.left);
            } else {
                quellora::moire::ScaleUp(img.picture, -img.left, 0, 1024, 768, n, frame);
                put->Put(frame, 0);
            }
            XSync(dpy, False);  // the server is done with the shared memory
            ++frames;
            // The next frame 40 ms after this one began.
            const double wait = start + frames * 40.0 - NowMs();
            if (wait > 0) {
                timespec ts{static_cast<time_t>(wait / 1000),
                            static_cast<long>((wait - static_cast<long>(wait / 1000) * 1000) * 1e6)};
                nanosleep(&ts, nullptr);
            }
        }
        return frames;
    };
    run(1000);
    std::printf("ready\n");
    std::fflush(stdout);
    const double cpu0 = CpuMs(), start = NowMs();
    const long frames = run(seconds * 1000);
    std::printf("frames=%ld steps=%ld cpu_ms=%.0f wall_ms=%.0f\n", frames, steps, CpuMs() - cpu0, NowMs() - start);
    // The last frame stays on screen until stdin closes, for a look at its pixels.
    std::fflush(stdout);
    char line[16];
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
}
