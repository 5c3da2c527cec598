// Two ways of showing the moiré enlarged n times on X, for bench/x11_scale_ways.py:
//
//   core    the core enlarges the frame (moire/scale) and the backend puts the
//           big 1-bit image as it puts any frame (what quellora does);
//   server  the backend puts the 1024 x 768 frame into a 1-bit pixmap and
//           asks the X server to enlarge it: XRender with a nearest-neighbour
//           transform, black through the pixmap as a mask over white.
//
//   x11_scale_ways core|server SECONDS [N]
//
// Runs the sweep at 25 frames a second in a window over the whole screen,
// the viewport centred, for SECONDS, then prints "frames=F cpu_ms=C wall_ms=W"
// (its own CPU) and keeps the last frame on screen until stdin closes; the
// script measures the X server beside it and looks at the pixels.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrender.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_clock.h"
#include "moire/animation.h"
#include "moire/assets.h"
#include "moire/scale.h"
#include "platform/x11/x11_frame_upload.h"
#include "platform/x11/x11_platform.h"

namespace {

using quellora::bench::CpuMs;
using quellora::bench::NowMs;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: x11_scale_ways core|server SECONDS [N]\n");
        return 2;
    }
    const bool server = std::strcmp(argv[1], "server") == 0;
    const double seconds = std::atof(argv[2]);
    const int n = argc > 3 ? std::atoi(argv[3]) : 2;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return 1;
    quellora::x11::X11Platform platform(dpy);
    const int screen = DefaultScreen(dpy);
    const int sw = DisplayWidth(dpy, screen), sh = DisplayHeight(dpy, screen);
    const int vw = 1024 * n, vh = 768 * n, vx = (sw - vw) / 2, vy = (sh - vh) / 2;

    XSetWindowAttributes swa{};
    swa.background_pixel = BlackPixel(dpy, screen);
    swa.override_redirect = True;
    const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, sw, sh, 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWBackPixel | CWOverrideRedirect, &swa);
    XMapRaised(dpy, win);
    XGCValues gv{};
    gv.foreground = BlackPixel(dpy, screen);
    gv.background = WhitePixel(dpy, screen);
    gv.graphics_exposures = False;
    GC gc = XCreateGC(dpy, win, GCForeground | GCBackground | GCGraphicsExposures, &gv);
    quellora::x11::FrameUpload toWindow(platform, DefaultVisual(dpy, screen), win, gc);

    // The server's way: a 1-bit pixmap, an A1 picture of it scaled by a
    // transform with the nearest filter, used as a mask of black over white.
    Pixmap bits = XCreatePixmap(dpy, win, 1024, 768, 1);
    gv.foreground = 1;
    gv.background = 0;
    GC gc1 = XCreateGC(dpy, bits, GCForeground | GCBackground | GCGraphicsExposures, &gv);
    quellora::x11::FrameUpload toPixmap(platform, DefaultVisual(dpy, screen), bits, gc1);
    XRenderPictFormat* a1 = XRenderFindStandardFormat(dpy, PictStandardA1);
    Picture mask = XRenderCreatePicture(dpy, bits, a1, 0, nullptr);
    XTransform t{};
    t.matrix[0][0] = XDoubleToFixed(1.0 / n);
    t.matrix[1][1] = XDoubleToFixed(1.0 / n);
    t.matrix[2][2] = XDoubleToFixed(1.0);
    XRenderSetPictureTransform(dpy, mask, &t);
    XRenderSetPictureFilter(dpy, mask, FilterNearest, nullptr, 0);
    Picture dst = XRenderCreatePicture(dpy, win, XRenderFindVisualFormat(dpy, DefaultVisual(dpy, screen)), 0, nullptr);
    const XRenderColor white{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, black{0, 0, 0, 0xFFFF};
    Picture ink = XRenderCreateSolidFill(dpy, &black);

    uint32_t now = 100000;
    quellora::moire::Animation anim([&] { return now; }, {&quellora::Img1Picture(), &quellora::Img2Picture(),
                                                          &quellora::TitlePicture()});
    anim.InitState();
    anim.CreateBuffers();
    anim.BmpInit();
    quellora::Bitmap1 big;
    XSync(dpy, False);

    const double cpu0 = CpuMs(), start = NowMs();
    long frames = 0;
    while (NowMs() - start < seconds * 1000) {
        anim.AutoMove();
        anim.ReDraw();
        const auto& img = anim.Image1();
        if (server) {
            toPixmap.Put(img.picture, -img.left, 0, 1024, 768, 0, 0);
            XRenderFillRectangle(dpy, PictOpSrc, dst, &white, vx, vy, vw, vh);
            XRenderComposite(dpy, PictOpOver, ink, mask, dst, 0, 0, 0, 0, vx, vy, vw, vh);
        } else {
            quellora::moire::ScaleUp(img.picture, -img.left, 0, 1024, 768, n, big);
            toWindow.Put(big, 0, 0, vw, vh, vx, vy);
        }
        XSync(dpy, False);
        ++frames;
        // The next frame 40 ms after this one began.
        const double next = start + frames * 40.0;
        const double wait = next - NowMs();
        if (wait > 0) {
            timespec ts{static_cast<time_t>(wait / 1000), static_cast<long>((wait - static_cast<long>(wait / 1000) * 1000) * 1e6)};
            nanosleep(&ts, nullptr);
        }
    }
    std::printf("frames=%ld cpu_ms=%.0f wall_ms=%.0f\n", frames, CpuMs() - cpu0, NowMs() - start);
    // The last frame stays on screen until stdin closes, for a look at its pixels.
    std::fflush(stdout);
    char line[16];
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
}
