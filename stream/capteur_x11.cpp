#include "stream/capteur_x11.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>
#include <poll.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include "agent/linux/ecran_x11.h"
#include "reading/photo.h"
#include "stream/format.h"

namespace vimba::flux {

std::pair<int, int> tailleImage(int largeur, int largeurEcran, int hauteurEcran) {
    const int l = largeur - largeur % 2;
    if (largeurEcran <= 0 || hauteurEcran <= 0) return {l, 0};
    int h = arrondir(static_cast<double>(hauteurEcran) * l / largeurEcran);
    return {l, h - h % 2};
}

namespace {

std::atomic<int> filsVivants{0};

// What the capture thread shares with the object that started it; the thread keeps it
// alive, so `arreter` only has to raise the flag and may return at once.
struct Partage {
    std::atomic<bool> arret{false};
    std::mutex taille;
    std::pair<int, int> dimensions{0, 0};
    // Set from any thread: grab a frame even though nothing changed.
    std::shared_ptr<std::atomic<bool>> forcer;
};

void boucle(std::shared_ptr<Partage> p, int largeur, int ips, SourceImages::SurImage surImage,
            SourceImages::SurPixels surPixels, std::promise<bool> pret) {
    Display* d = XOpenDisplay(nullptr);
    int evDamage = 0, erDamage = 0;
    if (!d || !XDamageQueryExtension(d, &evDamage, &erDamage)) {
        if (d) XCloseDisplay(d);
        pret.set_value(false);
        return;
    }
    auto ecran = photo::ecranX11();
    const Window racine = DefaultRootWindow(d);
    const Damage damage = XDamageCreate(d, racine, XDamageReportRawRectangles);
    XSync(d, False);
    const auto intervalle = std::chrono::microseconds(1000000 / std::max(1, ips));
    bool premiere = true, annonce = false;
    // The frame size is set by the first grab and kept: a display that changes size is
    // scaled to it, so an encoder sized once never sees another size.
    int w = 0, h = 0, largeurVue = 0, hauteurVue = 0;
    std::vector<Rect> changes;  // root coordinates
    auto prochaine = std::chrono::steady_clock::now();
    std::vector<std::uint8_t> y, uv, i420u, i420v;
    while (!p->arret) {
        if (p->forcer->exchange(false)) premiere = true;
        while (XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == evDamage + XDamageNotify) {
                const auto* n = reinterpret_cast<XDamageNotifyEvent*>(&ev);
                changes.push_back({n->area.x, n->area.y, n->area.width, n->area.height});
            }
        }
        const auto maintenant = std::chrono::steady_clock::now();
        if ((premiere || !changes.empty()) && maintenant >= prochaine) {
            const auto m = x11::moniteurPrincipal(d);
            auto brute = ecran->saisir();
            if (!brute) {
                if (!annonce) break;
            } else {
                if (w == 0) std::tie(w, h) = tailleImage(largeur, brute->largeur, brute->hauteur);
                if (brute->largeur != largeurVue || brute->hauteur != hauteurVue) {
                    largeurVue = brute->largeur;
                    hauteurVue = brute->hauteur;
                    changes.assign(1, Rect{m.x, m.y, brute->largeur, brute->hauteur});
                }
                ImageBGRA image{w, h, w * 4, {}};
                image.pixels.resize(static_cast<std::size_t>(image.pas) * h);
                libyuv::ARGBScale(brute->pixels.data(), brute->pas, brute->largeur, brute->hauteur, image.pixels.data(),
                                  image.pas, w, h, libyuv::kFilterBilinear);
                const double kx = static_cast<double>(w) / brute->largeur, ky = static_cast<double>(h) / brute->hauteur;
                std::vector<Rect> rects;
                for (const Rect& c : changes) {
                    const int x0 = static_cast<int>(std::floor((c.x - m.x) * kx)) - 1;
                    const int y0 = static_cast<int>(std::floor((c.y - m.y) * ky)) - 1;
                    const int x1 = static_cast<int>(std::ceil((c.x + c.w - m.x) * kx)) + 1;
                    const int y1 = static_cast<int>(std::ceil((c.y + c.h - m.y) * ky)) + 1;
                    Rect r{std::max(0, x0), std::max(0, y0), 0, 0};
                    r.w = std::min(w, x1) - r.x;
                    r.h = std::min(h, y1) - r.y;
                    if (r.w > 0 && r.h > 0) rects.push_back(r);
                }
                changes.clear();
                premiere = false;
                {
                    std::lock_guard verrou(p->taille);
                    p->dimensions = {w, h};
                }
                if (!annonce) {
                    annonce = true;
                    pret.set_value(true);
                }
                if (p->arret) break;
                if (surPixels) {
                    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
                    y.resize(static_cast<std::size_t>(w) * h);
                    uv.resize(static_cast<std::size_t>(cw) * 2 * ch);
                    i420u.resize(static_cast<std::size_t>(cw) * ch);
                    i420v.resize(i420u.size());
                    libyuv::ARGBToJ420(image.pixels.data(), image.pas, y.data(), w, i420u.data(), cw, i420v.data(), cw, w, h);
                    libyuv::MergeUVPlane(i420u.data(), cw, i420v.data(), cw, uv.data(), cw * 2, cw, ch);
                    surPixels(PixelsNV12{w, h, y.data(), w, uv.data(), cw * 2}, rects);
                } else if (surImage) {
                    surImage(std::move(image), std::move(rects));
                }
                prochaine = maintenant + intervalle;
            }
        }
        pollfd pf{ConnectionNumber(d), POLLIN, 0};
        const auto attente = std::chrono::duration_cast<std::chrono::milliseconds>(prochaine - std::chrono::steady_clock::now());
        const int ms = (premiere || !changes.empty()) ? static_cast<int>(std::max<long>(1, attente.count())) : 50;
        if (!XPending(d)) poll(&pf, 1, std::min(ms, 50));
    }
    if (!annonce) pret.set_value(false);
    XDamageDestroy(d, damage);
    ecran.reset();
    XCloseDisplay(d);
}

// Counts the thread for `attendreCapteurs`, whatever way it ends.
void lancer(std::shared_ptr<Partage> p, int largeur, int ips, SourceImages::SurImage surImage,
            SourceImages::SurPixels surPixels, std::promise<bool> pret) {
    boucle(std::move(p), largeur, ips, std::move(surImage), std::move(surPixels), std::move(pret));
    filsVivants -= 1;
}

class CapteurX11 final : public SourceImages {
public:
    ~CapteurX11() override { arreter(); }
    bool demarrer(int largeur, int ips, SurImage image, SurPixels pixels) override {
        arreter();
        partage_ = std::make_shared<Partage>();
        partage_->forcer = forcer_;
        std::promise<bool> pret;
        auto resultat = pret.get_future();
        filsVivants += 1;
        std::thread(lancer, partage_, largeur, ips, std::move(image), std::move(pixels), std::move(pret)).detach();
        if (resultat.wait_for(std::chrono::seconds(4)) != std::future_status::ready || !resultat.get()) {
            arreter();
            return false;
        }
        return true;
    }
    void arreter() override {
        if (partage_) partage_->arret = true;
    }
    void rafraichir() override { *forcer_ = true; }
    std::pair<int, int> taille() const override {
        if (!partage_) return {0, 0};
        std::lock_guard verrou(partage_->taille);
        return partage_->dimensions;
    }

private:
    std::shared_ptr<Partage> partage_;
    const std::shared_ptr<std::atomic<bool>> forcer_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace

std::unique_ptr<SourceImages> creerCapteurX11() { return std::make_unique<CapteurX11>(); }

void attendreCapteurs(std::chrono::milliseconds limite) {
    const auto fin = std::chrono::steady_clock::now() + limite;
    while (filsVivants > 0 && std::chrono::steady_clock::now() < fin) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

}  // namespace vimba::flux
