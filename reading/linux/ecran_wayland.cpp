#include "reading/linux/ecran_wayland.h"

#include <libyuv/scale_argb.h>

#include <cstring>

#include "agent/wayland/images.h"
#include "agent/wayland/portail.h"
#include "agent/wayland/sortie.h"

namespace vimba::photo {

namespace {

// A still screen sends no frame, so the latest one is the screen. While frames keep coming
// (something moves), one already on its way is worth a short wait.
constexpr int kFraicheurMs = 20;
constexpr long kEcranCalmeMs = 150;

class EcranWayland final : public Ecran {
public:
    bool lisible() override { return wayland::Portail::commun().etat() == wayland::EtatPortail::Accorde; }

    std::optional<Image> saisir() override {
        auto& images = wayland::ImagesPortail::commun();
        if (!lisible() || !images.demarrer(2000)) return std::nullopt;
        const auto [largeur, hauteur] = taille();
        std::optional<Image> image;
        const int attente = images.msDepuisDerniere() < kEcranCalmeMs ? kFraicheurMs : 0;
        images.lire(images.dernier(), attente, [&](const wayland::VueImage& v) {
            // Logical pixels, as on X11 for the same layout: a scaled output is reduced.
            const int l = largeur > 0 && largeur < v.largeur ? largeur : v.largeur;
            const int h = largeur > 0 && largeur < v.largeur ? hauteur : v.hauteur;
            Image i{l, h, l * 4, {}};
            i.pixels.resize(static_cast<std::size_t>(i.pas) * h);
            if (l == v.largeur && h == v.hauteur) {
                for (int y = 0; y < h; ++y)
                    std::memcpy(i.pixels.data() + static_cast<std::size_t>(y) * i.pas, v.pixels + static_cast<std::size_t>(y) * v.pas, i.pas);
            } else if (libyuv::ARGBScale(v.pixels, v.pas, v.largeur, v.hauteur, i.pixels.data(), i.pas, l, h, libyuv::kFilterBox) != 0) {
                return;
            }
            image = std::move(i);
        });
        return image;
    }

    std::pair<int, int> taille() override {
        if (const auto s = wayland::sortiePrincipale(); s && s->largeur > 0) return {s->largeur, s->hauteur};
        if (const auto f = wayland::Portail::commun().flux(); f && f->largeur > 0) return {f->largeur, f->hauteur};
        return {0, 0};
    }
};

}  // namespace

std::unique_ptr<Ecran> ecranWayland() { return std::make_unique<EcranWayland>(); }

}  // namespace vimba::photo
