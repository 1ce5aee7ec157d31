#include "stream/capteur_wayland.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "agent/wayland/images.h"
#include "agent/wayland/portail.h"
#include "reading/linux/ecran_wayland.h"
#include "stream/capteur_x11.h"
#include "stream/format.h"

namespace vimba::flux {

std::vector<Rect> differences(const ImageBGRA& ancienne, const ImageBGRA& nouvelle, int bande) {
    std::vector<Rect> rects;
    if (ancienne.largeur != nouvelle.largeur || ancienne.hauteur != nouvelle.hauteur || ancienne.pixels.empty()) {
        if (nouvelle.largeur > 0 && nouvelle.hauteur > 0) rects.push_back({0, 0, nouvelle.largeur, nouvelle.hauteur});
        return rects;
    }
    const int w = nouvelle.largeur;
    for (int y0 = 0; y0 < nouvelle.hauteur; y0 += bande) {
        const int y1 = std::min(nouvelle.hauteur, y0 + bande);
        int gauche = w, droite = -1;
        for (int y = y0; y < y1; ++y) {
            const auto* a = reinterpret_cast<const std::uint32_t*>(ancienne.pixels.data() + static_cast<std::size_t>(y) * ancienne.pas);
            const auto* b = reinterpret_cast<const std::uint32_t*>(nouvelle.pixels.data() + static_cast<std::size_t>(y) * nouvelle.pas);
            if (std::memcmp(a, b, static_cast<std::size_t>(w) * 4) == 0) continue;
            int g = 0;
            while (g < gauche && ((a[g] ^ b[g]) & 0xFFFFFF) == 0) ++g;
            int d = w - 1;
            while (d > droite && ((a[d] ^ b[d]) & 0xFFFFFF) == 0) --d;
            gauche = std::min(gauche, g);
            droite = std::max(droite, d);
        }
        if (droite >= gauche) rects.push_back({gauche, y0, droite - gauche + 1, y1 - y0});
    }
    return rects;
}

namespace {

// What the capture thread shares with the object that started it; the thread keeps it
// alive, so `arreter` only raises the flag and returns at once.
struct Partage {
    std::atomic<bool> arret{false};
    std::mutex taille;
    std::pair<int, int> dimensions{0, 0};
    std::shared_ptr<std::atomic<bool>> forcer;
};

// Scales the latest frame into `image`; false when there is none.
bool reduire(std::uint64_t apres, int attenteMs, int largeur, ImageBGRA& image, std::uint64_t& numero) {
    return wayland::ImagesPortail::commun().lire(apres, attenteMs, [&](const wayland::VueImage& v) {
        const auto [w, h] = tailleImage(largeur, v.largeur, v.hauteur);
        image.largeur = w;
        image.hauteur = h;
        image.pas = w * 4;
        image.pixels.resize(static_cast<std::size_t>(image.pas) * h);
        libyuv::ARGBScale(v.pixels, v.pas, v.largeur, v.hauteur, image.pixels.data(), image.pas, w, h, libyuv::kFilterBilinear);
        numero = v.numero;
    });
}

void boucle(std::shared_ptr<Partage> p, int largeur, int ips, SourceImages::SurImage surImage,
            SourceImages::SurPixels surPixels, std::promise<bool> pret) {
    const auto intervalle = std::chrono::microseconds(1000000 / std::max(1, ips));
    ImageBGRA precedente, image;
    std::uint64_t vu = 0;
    bool premiere = true, annonce = false;
    std::vector<std::uint8_t> y, uv, i420u, i420v;
    auto prochaine = std::chrono::steady_clock::now();
    while (!p->arret) {
        const auto maintenant = std::chrono::steady_clock::now();
        if (maintenant < prochaine) {
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(prochaine - maintenant, std::chrono::milliseconds(50)));
            continue;
        }
        const bool force = p->forcer->exchange(false);
        std::uint64_t numero = vu;
        // A still screen sends no frame: wake often enough to see a stop or a refresh.
        const bool lu = reduire(premiere || force ? 0 : vu, 50, largeur, image, numero);
        if (!lu) {
            if (!annonce) break;
            continue;
        }
        if (numero == vu && !premiere && !force) continue;
        vu = numero;
        std::vector<Rect> rects = premiere ? std::vector<Rect>{} : differences(precedente, image);
        if (rects.empty() && !premiere && !force) continue;
        premiere = false;
        {
            std::lock_guard verrou(p->taille);
            p->dimensions = {image.largeur, image.hauteur};
        }
        if (!annonce) {
            annonce = true;
            pret.set_value(true);
        }
        if (p->arret) break;
        const int w = image.largeur, h = image.hauteur;
        if (surPixels) {
            const int cw = (w + 1) / 2, ch = (h + 1) / 2;
            y.resize(static_cast<std::size_t>(w) * h);
            uv.resize(static_cast<std::size_t>(cw) * 2 * ch);
            i420u.resize(static_cast<std::size_t>(cw) * ch);
            i420v.resize(i420u.size());
            libyuv::ARGBToJ420(image.pixels.data(), image.pas, y.data(), w, i420u.data(), cw, i420v.data(), cw, w, h);
            libyuv::MergeUVPlane(i420u.data(), cw, i420v.data(), cw, uv.data(), cw * 2, cw, ch);
            surPixels(PixelsNV12{w, h, y.data(), w, uv.data(), cw * 2}, rects);
            precedente.pixels.swap(image.pixels);
            precedente.largeur = w, precedente.hauteur = h, precedente.pas = image.pas;
        } else if (surImage) {
            precedente = image;
            surImage(std::move(image), std::move(rects));
            image = ImageBGRA{};
        }
        prochaine = std::chrono::steady_clock::now() + intervalle;
    }
    if (!annonce) pret.set_value(false);
}

class CapteurWayland final : public SourceImages {
public:
    ~CapteurWayland() override { arreter(); }
    bool demarrer(int largeur, int ips, SurImage image, SurPixels pixels) override {
        arreter();
        // The stream is the portal's: granted through "autorise", never asked from here.
        if (wayland::Portail::commun().etat() != wayland::EtatPortail::Accorde ||
            !wayland::ImagesPortail::commun().demarrer(3000))
            return false;
        partage_ = std::make_shared<Partage>();
        partage_->forcer = forcer_;
        std::promise<bool> pret;
        auto resultat = pret.get_future();
        std::thread(boucle, partage_, largeur, ips, std::move(image), std::move(pixels), std::move(pret)).detach();
        if (resultat.wait_for(std::chrono::milliseconds(900)) != std::future_status::ready || !resultat.get()) {
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

std::unique_ptr<SourceImages> creerCapteurWayland() { return std::make_unique<CapteurWayland>(); }

Saisie saisieWayland() {
    auto ecran = std::shared_ptr<photo::Ecran>(photo::ecranWayland());
    return [ecran](int largeur) -> std::optional<ImageBGRA> {
        auto brute = ecran->saisir();
        if (!brute || brute->largeur <= 0 || brute->hauteur <= 0) return std::nullopt;
        const int l = std::min(largeur, brute->largeur);
        const int h = arrondir(static_cast<double>(brute->hauteur) * l / brute->largeur);
        ImageBGRA image{l, h, l * 4, {}};
        image.pixels.resize(static_cast<std::size_t>(image.pas) * h);
        if (libyuv::ARGBScale(brute->pixels.data(), brute->pas, brute->largeur, brute->hauteur, image.pixels.data(),
                              image.pas, l, h, libyuv::kFilterBox) != 0)
            return std::nullopt;
        return image;
    };
}

std::pair<int, int> pointeurWayland(int largeurImage, int hauteurImage) {
    const auto p = wayland::ImagesPortail::commun().pointeur();
    if (!p || p->largeur <= 0 || p->hauteur <= 0 || largeurImage <= 0 || hauteurImage <= 0) return {-1, -1};
    return {arrondir(p->x * static_cast<double>(largeurImage) / p->largeur),
            arrondir(p->y * static_cast<double>(hauteurImage) / p->hauteur)};
}

}  // namespace vimba::flux
