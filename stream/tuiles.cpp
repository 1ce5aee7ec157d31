#include "stream/tuiles.h"

#include <jpeglib.h>
#include <libyuv/scale_argb.h>

#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <csetjmp>
#include <cstdio>

#include "reading/photo.h"
#include "stream/format.h"

namespace vimba::flux {

bool seCroisent(const Rect& a, const Rect& b) {
    if (a.w <= 0 || a.h <= 0 || b.w <= 0 || b.h <= 0) return false;
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

namespace {
struct ErreurJpeg {
    jpeg_error_mgr mgr;
    std::jmp_buf saut;
};
void sortieErreur(j_common_ptr c) { std::longjmp(reinterpret_cast<ErreurJpeg*>(c->err)->saut, 1); }
}  // namespace

std::vector<std::uint8_t> jpegTuile(const ImageBGRA& image, const Rect& r, double qualite) {
    if (r.w <= 0 || r.h <= 0 || r.x < 0 || r.y < 0 || r.x + r.w > image.largeur || r.y + r.h > image.hauteur) return {};
    jpeg_compress_struct c{};
    ErreurJpeg err{};
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = sortieErreur;
    unsigned char* sortie = nullptr;
    unsigned long taille = 0;
    if (setjmp(err.saut)) {
        jpeg_destroy_compress(&c);
        std::free(sortie);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &sortie, &taille);
    c.image_width = static_cast<JDIMENSION>(r.w);
    c.image_height = static_cast<JDIMENSION>(r.h);
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, static_cast<int>(qualite * 100 + 0.5), TRUE);
    c.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW ligne = const_cast<JSAMPROW>(image.pixels.data() +
                                              static_cast<std::size_t>(r.y + c.next_scanline) * image.pas + r.x * 4);
        jpeg_write_scanlines(&c, &ligne, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> r2(sortie, sortie + taille);
    std::free(sortie);
    return r2;
}

std::uint64_t empreinte(const ImageBGRA& image, const Rect& r) {
    const std::size_t ligne = static_cast<std::size_t>(r.w) * 4;
    const std::size_t n = ligne * static_cast<std::size_t>(r.h);
    const std::size_t pas = n >= 600 ? n / 600 : 1;
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < n; i += pas) {
        const std::uint8_t b = image.pixels[static_cast<std::size_t>(r.y + i / ligne) * image.pas + r.x * 4 + i % ligne];
        h = (h ^ b) * 0x100000001b3ull;
    }
    return h ^ n;
}

std::vector<std::uint8_t> messageF(const ImageBGRA& image, const std::vector<Rect>& changes, bool tout, double qualite,
                                   std::pair<int, int> pointeur, std::vector<std::uint64_t>* empreintes, int& n) {
    const Grille g = Grille::pour(image.largeur, image.hauteur);
    std::vector<std::uint8_t> tuiles;
    n = 0;
    for (int r = 0; r < g.rangees; ++r)
        for (int c = 0; c < g.colonnes; ++c) {
            const Rect t = g.tuile(c, r);
            std::uint64_t e = 0;
            if (empreintes) {
                e = empreinte(image, t);
                if (!tout && e == (*empreintes)[static_cast<std::size_t>(r * g.colonnes + c)]) continue;
            } else if (!tout) {
                bool touchee = false;
                for (const Rect& ch : changes) touchee = touchee || seCroisent(ch, t);
                if (!touchee) continue;
            }
            const auto jpeg = jpegTuile(image, t, qualite);
            if (jpeg.empty()) continue;
            if (empreintes) (*empreintes)[static_cast<std::size_t>(r * g.colonnes + c)] = e;
            ++n;
            ajouter(tuiles, enTeteT(t.x, t.y, t.w, t.h, jpeg.size()), jpeg.data(), jpeg.size());
        }
    std::vector<std::uint8_t> message;
    ajouter(message, enTeteF(image.largeur, image.hauteur, n, pointeur.first, pointeur.second));
    message.insert(message.end(), tuiles.begin(), tuiles.end());
    return message;
}

Saisie saisieX11() {
    auto ecran = std::shared_ptr<photo::Ecran>(photo::ecranX11());
    return [ecran](int largeur) -> std::optional<ImageBGRA> {
        auto brute = ecran->saisir();
        if (!brute || brute->largeur <= 0 || brute->hauteur <= 0) return std::nullopt;
        const int l = std::min(largeur, brute->largeur);
        const int h = arrondir(static_cast<double>(brute->hauteur) * l / brute->largeur);
        ImageBGRA image{l, h, l * 4, {}};
        if (l == brute->largeur) {
            image.pas = brute->pas;
            image.pixels = std::move(brute->pixels);
            return image;
        }
        image.pixels.resize(static_cast<std::size_t>(image.pas) * h);
        if (libyuv::ARGBScale(brute->pixels.data(), brute->pas, brute->largeur, brute->hauteur, image.pixels.data(),
                              image.pas, l, h, libyuv::kFilterBox) != 0)
            return std::nullopt;
        return image;
    };
}

namespace {

// Counters readable from the main thread while the server's thread writes them.
struct Compteurs {
    std::atomic<std::uint64_t> images{0}, octets{0};
    std::atomic<double> msCapture{0};
};

// "tuiles": the capture source hops each frame over to the server's thread.
class MoteurTuiles final : public Moteur {
public:
    explicit MoteurTuiles(const ContexteMoteur& c) : etat_(std::make_shared<Etat>()) {
        etat_->contexte = c;
    }
    ~MoteurTuiles() override { arreter(); }

    std::string nom() const override { return "tuiles"; }
    bool avecBattement() const override { return true; }
    bool demarrer() override {
        auto source = etat_->contexte.source ? etat_->contexte.source() : nullptr;
        if (!source) return false;
        std::weak_ptr<Etat> faible = etat_;
        Lien* lien = etat_->contexte.lien;
        const bool ok = source->demarrer(
            etat_->contexte.largeur, 30,
            [faible, lien](ImageBGRA image, std::vector<Rect> changes) {
                if (faible.expired()) return;
                lien->poster([faible, image = std::move(image), changes = std::move(changes)]() mutable {
                    if (auto e = faible.lock()) e->traiter(image, changes);
                });
            },
            nullptr);
        if (!ok) {
            source->arreter();
            return false;
        }
        source_ = std::move(source);
        return true;
    }
    void arreter() override {
        if (source_) source_->arreter();
        source_.reset();
    }
    std::uint64_t images() const override { return etat_->compteurs.images; }
    std::uint64_t octets() const override { return etat_->compteurs.octets; }
    double msCapture() const override { return etat_->compteurs.msCapture; }

private:
    struct Etat {
        ContexteMoteur contexte;
        Grille grille;
        bool toutRenvoyer = true;
        Compteurs compteurs;
        void traiter(const ImageBGRA& image, const std::vector<Rect>& changes) {
            Lien& lien = *contexte.lien;
            if (!lien.pret() || lien.enVol() > 1) return;
            if (image.largeur != grille.largeur || image.hauteur != grille.hauteur) {
                grille = Grille::pour(image.largeur, image.hauteur);
                toutRenvoyer = true;
            }
            int n = 0;
            auto message = messageF(image, changes, toutRenvoyer, contexte.qualite, lien.pointeur(image.largeur, image.hauteur), nullptr, n);
            toutRenvoyer = false;
            if (n == 0) return;
            const auto taille = message.size();
            lien.envoyer(std::move(message));
            lien.trameEnvoyee(image.largeur, image.hauteur);
            compteurs.images += 1;
            compteurs.octets += taille;
        }
    };
    std::shared_ptr<Etat> etat_;
    std::unique_ptr<SourceImages> source_;
};

// "tuiles-anciennes": a 40 ms timer grabs, fingerprints and sends an F on every tick.
class MoteurTuilesAnciennes final : public Moteur {
public:
    MoteurTuilesAnciennes(const ContexteMoteur& c, asio::io_context& io, Saisie saisie)
        : etat_(std::make_shared<Etat>(io)) {
        etat_->contexte = c;
        etat_->saisie = std::move(saisie);
    }
    ~MoteurTuilesAnciennes() override { arreter(); }

    std::string nom() const override { return "tuiles-anciennes"; }
    bool avecBattement() const override { return false; }
    bool demarrer() override {
        if (!etat_->saisie) return false;
        etat_->actif = true;
        etat_->toutRenvoyer = true;
        Etat::tic(etat_);
        return true;
    }
    void arreter() override {
        etat_->actif = false;
        etat_->boucle.cancel();
    }
    std::uint64_t images() const override { return etat_->compteurs.images; }
    std::uint64_t octets() const override { return etat_->compteurs.octets; }
    double msCapture() const override { return etat_->compteurs.msCapture; }

private:
    struct Etat {
        explicit Etat(asio::io_context& io) : boucle(io) {}
        ContexteMoteur contexte;
        Saisie saisie;
        asio::steady_timer boucle;
        bool actif = false;
        bool toutRenvoyer = true;
        Grille grille;
        std::vector<std::uint64_t> empreintes;
        Compteurs compteurs;
        std::chrono::steady_clock::time_point prochain;

        static void tic(const std::shared_ptr<Etat>& e) {
            e->prochain = std::chrono::steady_clock::now();
            e->suivant(e);
        }
        void suivant(const std::shared_ptr<Etat>& soi) {
            if (!actif) return;
            uneImage();
            // A tick longer than the period skips the ticks it overran instead of bunching them.
            prochain += std::chrono::milliseconds(40);
            while (prochain <= std::chrono::steady_clock::now()) prochain += std::chrono::milliseconds(40);
            boucle.expires_at(prochain);
            std::weak_ptr<Etat> faible = soi;
            boucle.async_wait([faible](const std::error_code& ec) {
                if (ec) return;
                if (auto e = faible.lock()) e->suivant(e);
            });
        }
        void uneImage() {
            Lien& lien = *contexte.lien;
            if (!lien.pret() || lien.enVol() > 1) return;
            const auto t0 = std::chrono::steady_clock::now();
            auto image = saisie(contexte.largeur);
            if (!image) return;
            compteurs.msCapture =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            const Grille g = Grille::pour(image->largeur, image->hauteur);
            if (empreintes.size() != static_cast<std::size_t>(g.colonnes * g.rangees) || g.largeur != grille.largeur ||
                g.hauteur != grille.hauteur) {
                grille = g;
                empreintes.assign(static_cast<std::size_t>(g.colonnes * g.rangees), 0);
                toutRenvoyer = true;
            }
            int n = 0;
            auto message = messageF(*image, {}, toutRenvoyer, contexte.qualite, lien.pointeur(image->largeur, image->hauteur), &empreintes, n);
            toutRenvoyer = false;
            const auto taille = message.size();
            lien.envoyer(std::move(message));
            compteurs.images += 1;
            compteurs.octets += taille;
        }
    };
    std::shared_ptr<Etat> etat_;
};

}  // namespace

std::unique_ptr<Moteur> creerMoteurTuiles(const ContexteMoteur& contexte) {
    return std::make_unique<MoteurTuiles>(contexte);
}
std::unique_ptr<Moteur> creerMoteurTuilesAnciennes(const ContexteMoteur& contexte, asio::io_context& io, Saisie saisie) {
    return std::make_unique<MoteurTuilesAnciennes>(contexte, io, std::move(saisie));
}

}  // namespace vimba::flux
