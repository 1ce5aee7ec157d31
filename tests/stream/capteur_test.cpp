// The X11 capture source against the real display: first frame, silence on a still
// screen, changed rectangles in frame pixels, full-range NV12, prompt stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "stream/capteur_x11.h"

#include <X11/Xlib.h>

using namespace vimba::flux;
using namespace std::chrono_literals;

namespace {

void dessiner(int x, int y, int w, int h, unsigned long couleur) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
    XSetForeground(d, gc, couleur);
    XFillRectangle(d, DefaultRootWindow(d), gc, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XFreeGC(d, gc);
    XSync(d, False);
    XCloseDisplay(d);
}

template <class F>
bool attendre(F f, std::chrono::milliseconds limite = 3000ms) {
    const auto fin = std::chrono::steady_clock::now() + limite;
    while (!f()) {
        if (std::chrono::steady_clock::now() > fin) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace

TEST(CapteurX11, ImagesEtRectanglesChanges) {
    std::mutex m;
    std::vector<std::pair<ImageBGRA, std::vector<Rect>>> recues;
    auto c = creerCapteurX11();
    ASSERT_TRUE(c->demarrer(801, 30, [&](ImageBGRA i, std::vector<Rect> r) {
        std::lock_guard v(m);
        recues.emplace_back(std::move(i), std::move(r));
    }, nullptr));
    const auto [l, h] = c->taille();
    EXPECT_EQ(l, 800);
    EXPECT_EQ(h % 2, 0);
    ASSERT_TRUE(attendre([&] { std::lock_guard v(m); return !recues.empty(); }));
    std::this_thread::sleep_for(250ms);
    {
        std::lock_guard v(m);
        EXPECT_EQ(recues.size(), 1u) << "a still screen delivers nothing";
        EXPECT_EQ(recues[0].first.largeur, 800);
        recues.clear();
    }
    Display* d = XOpenDisplay(nullptr);
    const double k = 800.0 / DisplayWidth(d, DefaultScreen(d));
    XCloseDisplay(d);
    dessiner(400, 300, 20, 20, 0x00ff00);
    ASSERT_TRUE(attendre([&] { std::lock_guard v(m); return !recues.empty(); }));
    std::lock_guard v(m);
    const auto& [image, rects] = recues.front();
    ASSERT_FALSE(rects.empty());
    const int cx = static_cast<int>(410 * k), cy = static_cast<int>(310 * k);
    bool couvert = false;
    for (const Rect& r : rects) couvert = couvert || (r.x <= cx && cx < r.x + r.w && r.y <= cy && cy < r.y + r.h);
    EXPECT_TRUE(couvert);
    EXPECT_GT(image.pixels[static_cast<std::size_t>(cy) * image.pas + cx * 4 + 1], 200);
    const auto t0 = std::chrono::steady_clock::now();
    c->arreter();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms);
}

TEST(CapteurX11, Nv12PleineEchelle) {
    dessiner(0, 0, 400, 400, 0xffffff);
    std::atomic<int> y{-1}, u{-1};
    auto c = creerCapteurX11();
    ASSERT_TRUE(c->demarrer(640, 60, nullptr, [&](const PixelsNV12& p, const std::vector<Rect>&) {
        y = p.y[10 * p.pasY + 10];
        u = p.uv[5 * p.pasUV + 10];
    }));
    ASSERT_TRUE(attendre([&] { return y >= 0; }));
    EXPECT_EQ(y, 255);  // full range: white is 255, not 235
    EXPECT_NEAR(u, 128, 2);
    c->arreter();
}
