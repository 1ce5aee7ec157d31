#include "stream/masque.h"

#include <algorithm>
#include <vector>

namespace vimba::flux {

namespace {

class SourceMasquee final : public SourceImages {
public:
    SourceMasquee(std::unique_ptr<SourceImages> source, Masque masque)
        : source_(std::move(source)), masque_(std::move(masque)) {
        masque_->inscrire(this);
    }
    ~SourceMasquee() override { masque_->desinscrire(this); }

    bool demarrer(int largeur, int ips, SurImage image, SurPixels pixels) override {
        if (pixels) {
            return source_->demarrer(largeur, ips, nullptr,
                                     [this, pixels](const PixelsNV12& p, const std::vector<Rect>& rects) {
                                         if (!masque_->actif()) return pixels(p, relever(rects, p.largeur, p.hauteur));
                                         pixels(noir(p), {Rect{0, 0, p.largeur, p.hauteur}});
                                         etaitMasque_ = true;
                                     });
        }
        return source_->demarrer(largeur, ips, [this, image](ImageBGRA i, std::vector<Rect> rects) {
            const int l = i.largeur, h = i.hauteur;
            if (!masque_->actif()) return image(std::move(i), relever(rects, l, h));
            std::fill(i.pixels.begin(), i.pixels.end(), 0);
            image(std::move(i), {Rect{0, 0, l, h}});
            etaitMasque_ = true;
        }, nullptr);
    }
    void arreter() override { source_->arreter(); }
    std::pair<int, int> taille() const override { return source_->taille(); }
    void rafraichir() override { source_->rafraichir(); }

private:
    // Capture thread only.
    std::vector<Rect> relever(const std::vector<Rect>& rects, int l, int h) {
        if (!etaitMasque_) return rects;
        etaitMasque_ = false;
        return {Rect{0, 0, l, h}};
    }
    PixelsNV12 noir(const PixelsNV12& p) {
        const std::size_t luma = static_cast<std::size_t>(p.largeur) * p.hauteur;
        if (y_.size() != luma) {
            y_.assign(luma, 0);
            // Full range: 128 is no colour.
            uv_.assign(static_cast<std::size_t>((p.largeur + 1) / 2 * 2) * ((p.hauteur + 1) / 2), 128);
        }
        return PixelsNV12{p.largeur, p.hauteur, y_.data(), p.largeur, uv_.data(), (p.largeur + 1) / 2 * 2};
    }

    std::unique_ptr<SourceImages> source_;
    Masque masque_;
    bool etaitMasque_ = false;
    std::vector<std::uint8_t> y_, uv_;
};

}  // namespace

void EtatMasque::poser(bool actif) {
    if (actif_.exchange(actif) == actif) return;
    std::lock_guard garde(verrou_);
    for (SourceImages* s : sources_) s->rafraichir();
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
    return [saisie = std::move(saisie), masque = std::move(masque)](int largeur) -> std::optional<ImageBGRA> {
        auto image = saisie(largeur);
        if (image && masque->actif()) std::fill(image->pixels.begin(), image->pixels.end(), 0);
        return image;
    };
}

}  // namespace vimba::flux
