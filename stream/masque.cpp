#include "stream/masque.h"

#include <algorithm>

#include "agent/bureau.h"
#include "agent/linux/devant.h"
#include "agent/wayland/sway.h"

namespace vimba::flux {

namespace {

// What the delivery callbacks share; they may outlive the source by one frame, so they
// hold it themselves. Used on one thread only (the capture's, or the server's for the grab).
struct Livraison {
    Masque masque;
    std::unique_ptr<x11::VueDevant> devant;
    bool etaitMasque = false;
    std::vector<std::uint8_t> y, uv;

    explicit Livraison(Masque m) : masque(std::move(m)) {}
    bool masquee() {
        // A connection of our own, made on the thread that delivers.
        if (!devant) devant = std::make_unique<x11::VueDevant>();
        const std::uint64_t cle = bureauCourant().affichage == Affichage::Wayland ? wayland::cleSway() : devant->cle();
        return masque->masque(cle ? &cle : nullptr);
    }
    std::vector<Rect> relever(const std::vector<Rect>& rects, int l, int h) {
        if (!etaitMasque) return rects;
        etaitMasque = false;
        return {Rect{0, 0, l, h}};
    }
    PixelsNV12 noir(const PixelsNV12& p) {
        const int pasUV = (p.largeur + 1) / 2 * 2;
        const std::size_t luma = static_cast<std::size_t>(p.largeur) * p.hauteur;
        const std::size_t chroma = static_cast<std::size_t>(pasUV) * ((p.hauteur + 1) / 2);
        if (y.size() != luma || uv.size() != chroma) {
            y.assign(luma, 0);
            // Full range: 128 is no colour.
            uv.assign(chroma, 128);
        }
        return PixelsNV12{p.largeur, p.hauteur, y.data(), p.largeur, uv.data(), pasUV};
    }
};

class SourceMasquee final : public SourceImages {
public:
    SourceMasquee(std::unique_ptr<SourceImages> source, Masque masque)
        : source_(std::move(source)), masque_(std::move(masque)) {
        masque_->inscrire(this);
    }
    ~SourceMasquee() override { masque_->desinscrire(this); }

    bool demarrer(int largeur, int ips, SurImage image, SurPixels pixels) override {
        auto l = std::make_shared<Livraison>(masque_);
        if (pixels) {
            return source_->demarrer(largeur, ips, nullptr, [l, pixels](const PixelsNV12& p, const std::vector<Rect>& rects) {
                if (!l->masquee()) return pixels(p, l->relever(rects, p.largeur, p.hauteur));
                pixels(l->noir(p), {Rect{0, 0, p.largeur, p.hauteur}});
                l->etaitMasque = true;
            });
        }
        return source_->demarrer(largeur, ips, [l, image](ImageBGRA i, std::vector<Rect> rects) {
            const int w = i.largeur, h = i.hauteur;
            if (!l->masquee()) return image(std::move(i), l->relever(rects, w, h));
            std::fill(i.pixels.begin(), i.pixels.end(), 0);
            image(std::move(i), {Rect{0, 0, w, h}});
            l->etaitMasque = true;
        }, nullptr);
    }
    void arreter() override { source_->arreter(); }
    std::pair<int, int> taille() const override { return source_->taille(); }
    void rafraichir() override { source_->rafraichir(); }

private:
    std::unique_ptr<SourceImages> source_;
    Masque masque_;
};

}  // namespace

void EtatMasque::poser(bool sensible, std::uint64_t cle) {
    const std::uint64_t nouvel = (cle & ~(bitSensible | jamaisJuge)) | (sensible ? bitSensible : 0);
    if (etat_.exchange(nouvel) == nouvel) return;
    std::lock_guard garde(verrou_);
    for (SourceImages* s : sources_) s->rafraichir();
}

bool EtatMasque::masque(const std::uint64_t* cleVue) const {
    const std::uint64_t e = etat_;
    if (e == jamaisJuge) return false;
    if (e & bitSensible) return true;
    return cleVue && (*cleVue & ~(bitSensible | jamaisJuge)) != e;
}

void EtatMasque::inscrire(SourceImages* s) {
    std::lock_guard garde(verrou_);
    sources_.push_back(s);
}

void EtatMasque::desinscrire(SourceImages* s) {
    std::lock_guard garde(verrou_);
    sources_.erase(std::remove(sources_.begin(), sources_.end(), s), sources_.end());
}

std::unique_ptr<SourceImages> sourceMasquee(std::unique_ptr<SourceImages> source, Masque masque) {
    if (!source) return nullptr;
    return std::make_unique<SourceMasquee>(std::move(source), std::move(masque));
}

Saisie saisieMasquee(Saisie saisie, Masque masque) {
    // The grab runs on the server's thread only, which then owns the connection.
    auto l = std::make_shared<Livraison>(std::move(masque));
    return [saisie = std::move(saisie), l](int largeur) -> std::optional<ImageBGRA> {
        auto image = saisie(largeur);
        if (image && l->masquee()) std::fill(image->pixels.begin(), image->pixels.end(), 0);
        return image;
    };
}

}  // namespace vimba::flux
