#include "tools/voir/fenetre.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <vector>

namespace vimba::voir {

namespace {

class FenetreX11 final : public Fenetre {
public:
    explicit FenetreX11(Display* d) : d_(d) {}
    ~FenetreX11() override {
        if (gc_) XFreeGC(d_, gc_);
        if (f_) XDestroyWindow(d_, f_);
        XCloseDisplay(d_);
    }

    bool montrer(const Tableau& t) override {
        if (ferme_ || t.largeur <= 0) return !ferme_;
        if (!f_) ouvrir(t.largeur, t.hauteur);
        while (XPending(d_)) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == ClientMessage && static_cast<Atom>(e.xclient.data.l[0]) == fermer_) ferme_ = true;
        }
        if (ferme_) return false;
        copie_ = t.bgra;
        // The pointer as a small white cross.
        for (int i = -6; i <= 6; ++i) {
            point(t, t.px + i, t.py);
            point(t, t.px, t.py + i);
        }
        XImage* image = XCreateImage(d_, DefaultVisual(d_, DefaultScreen(d_)), 24, ZPixmap, 0,
                                     reinterpret_cast<char*>(copie_.data()), static_cast<unsigned>(t.largeur),
                                     static_cast<unsigned>(t.hauteur), 32, t.largeur * 4);
        if (!image) return true;
        XPutImage(d_, f_, gc_, image, 0, 0, 0, 0, static_cast<unsigned>(t.largeur), static_cast<unsigned>(t.hauteur));
        image->data = nullptr;
        XDestroyImage(image);
        XFlush(d_);
        return true;
    }

private:
    void ouvrir(int l, int h) {
        f_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, static_cast<unsigned>(l), static_cast<unsigned>(h), 0, 0, 0);
        XStoreName(d_, f_, "Dépannage Vimba — écran distant");
        fermer_ = XInternAtom(d_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(d_, f_, &fermer_, 1);
        gc_ = XCreateGC(d_, f_, 0, nullptr);
        XMapWindow(d_, f_);
    }
    void point(const Tableau& t, int x, int y) {
        if (x < 0 || y < 0 || x >= t.largeur || y >= t.hauteur) return;
        std::memset(&copie_[(static_cast<std::size_t>(y) * t.largeur + x) * 4], 0xff, 4);
    }

    Display* d_;
    Window f_ = 0;
    GC gc_ = nullptr;
    Atom fermer_ = 0;
    bool ferme_ = false;
    std::vector<std::uint8_t> copie_;
};

}  // namespace

std::unique_ptr<Fenetre> ouvrirFenetre() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    return std::make_unique<FenetreX11>(d);
}

}  // namespace vimba::voir
