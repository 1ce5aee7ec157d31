#include "tools/voir/lecteur.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace vimba::voir {

namespace {

constexpr std::size_t ligneMax = 128;
constexpr long long chargeMax = 64ll << 20;
constexpr int coteMax = 16384;
// The pointer may sit on another monitor, outside the picture, but not anywhere at all.
constexpr long long pointeurMax = 1 << 20;

bool dans(long long v, long long min, long long max) { return v >= min && v <= max; }

// Decimal without leading zero or plus sign; negative only where `negatif` allows.
bool entier(const std::string& s, bool negatif, long long& v) {
    std::size_t i = 0;
    bool moins = false;
    if (negatif && !s.empty() && s[0] == '-') moins = true, i = 1;
    if (i >= s.size() || s.size() - i > 12) return false;
    if (s[i] == '0' && (s.size() - i > 1 || moins)) return false;
    v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    if (moins) v = -v;
    return true;
}

struct ErreurJpeg {
    jpeg_error_mgr mgr;
    std::jmp_buf saut;
};
void sortieErreur(j_common_ptr c) { std::longjmp(reinterpret_cast<ErreurJpeg*>(c->err)->saut, 1); }
void silence(j_common_ptr) {}

class DecodeurTuiles final : public Decodeur {
public:
    bool traiter(const Message& m, Tableau& t, std::string& erreur) override {
        if (m.genre == 'F') {
            if (!dans(m.champs[0], 1, coteMax) || !dans(m.champs[1], 1, coteMax)) return erreur = "taille d’image impossible", false;
            const int l = static_cast<int>(m.champs[0]), h = static_cast<int>(m.champs[1]);
            if (l != t.largeur || h != t.hauteur) {
                t.largeur = l;
                t.hauteur = h;
                t.bgra.assign(static_cast<std::size_t>(l) * h * 4, 0);
            }
            t.px = static_cast<int>(m.champs[3]);
            t.py = static_cast<int>(m.champs[4]);
            return true;
        }
        // Checked as read, before anything narrows them: x + w must not wrap around.
        const auto& c = m.champs;
        if (!dans(c[0], 0, t.largeur - 1) || !dans(c[1], 0, t.hauteur - 1) || !dans(c[2], 1, t.largeur - c[0]) ||
            !dans(c[3], 1, t.hauteur - c[1]))
            return erreur = "tuile hors de l’image (" + std::to_string(c[0]) + "," + std::to_string(c[1]) + ")", false;
        const int x = static_cast<int>(c[0]), y = static_cast<int>(c[1]);
        const int w = static_cast<int>(c[2]), h = static_cast<int>(c[3]);
        jpeg_decompress_struct d{};
        ErreurJpeg err{};
        d.err = jpeg_std_error(&err.mgr);
        err.mgr.error_exit = sortieErreur;
        err.mgr.output_message = silence;
        if (setjmp(err.saut)) {
            jpeg_destroy_decompress(&d);
            return erreur = "JPEG illisible", false;
        }
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, m.charge.data(), static_cast<unsigned long>(m.charge.size()));
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&d);
        if (static_cast<int>(d.output_width) != w || static_cast<int>(d.output_height) != h) {
            jpeg_destroy_decompress(&d);
            return erreur = "JPEG de taille inattendue", false;
        }
        while (d.output_scanline < d.output_height) {
            JSAMPROW ligne = t.bgra.data() + (static_cast<std::size_t>(y + d.output_scanline) * t.largeur + x) * 4;
            jpeg_read_scanlines(&d, &ligne, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        return true;
    }
};

}  // namespace

std::unique_ptr<Decodeur> decodeurTuiles() { return std::make_unique<DecodeurTuiles>(); }

bool Lecteur::enTete(Message& m) {
    std::vector<std::string> mots;
    std::size_t debut = 0;
    for (;;) {
        const auto fin = ligne_.find(' ', debut);
        mots.push_back(ligne_.substr(debut, fin == std::string::npos ? std::string::npos : fin - debut));
        if (fin == std::string::npos) break;
        debut = fin + 1;
    }
    if (mots[0].size() != 1) return erreur_ = "en-tête illisible : « " + ligne_ + " »", false;
    m = Message{};
    m.genre = mots[0][0];
    std::size_t attendus = 0;
    switch (m.genre) {
        case 'F': attendus = 5; break;
        case 'T': attendus = 5; break;
        case 'V': attendus = 6; break;
        case 'C': attendus = 1; break;
        default: return erreur_ = "genre de message inconnu : « " + ligne_ + " »", false;
    }
    if (mots.size() != attendus + 1) return erreur_ = "nombre de champs faux : « " + ligne_ + " »", false;
    for (std::size_t i = 1; i < mots.size(); ++i) {
        const bool pointeur = (m.genre == 'F' && i >= 4) || (m.genre == 'V' && (i == 4 || i == 5));
        long long v = 0;
        if (!entier(mots[i], pointeur, v)) return erreur_ = "champ illisible : « " + ligne_ + " »", false;
        m.champs.push_back(v);
    }
    if (m.genre == 'T' && tuilesAttendues_ == 0) return erreur_ = "tuile hors d’un message F", false;
    if (m.genre != 'T' && tuilesAttendues_ > 0) return erreur_ = "tuiles manquantes avant « " + ligne_ + " »", false;
    if (m.genre == 'V' && m.champs[5] > 1) return erreur_ = "drapeau de clé illisible", false;
    // Every field within what the server can send, so that nothing downstream overflows.
    const auto& c = m.champs;
    bool bon = true;
    switch (m.genre) {
        case 'F':
            bon = dans(c[0], 1, coteMax) && dans(c[1], 1, coteMax) && dans(c[2], 0, c[0] * c[1]) &&
                  dans(c[3], -pointeurMax, pointeurMax) && dans(c[4], -pointeurMax, pointeurMax);
            if (bon) largeurF_ = c[0], hauteurF_ = c[1];
            break;
        case 'T':
            bon = dans(c[0], 0, largeurF_ - 1) && dans(c[1], 0, hauteurF_ - 1) && dans(c[2], 1, largeurF_ - c[0]) &&
                  dans(c[3], 1, hauteurF_ - c[1]) && dans(c[4], 1, chargeMax);
            break;
        case 'V':
            bon = dans(c[0], 1, coteMax) && dans(c[1], 1, coteMax) && dans(c[2], 0, chargeMax) &&
                  dans(c[3], -pointeurMax, pointeurMax) && dans(c[4], -pointeurMax, pointeurMax);
            break;
        case 'C': bon = dans(c[0], 0, chargeMax); break;
    }
    if (!bon) return erreur_ = "champ hors limites : « " + ligne_ + " »", false;
    return true;
}

bool Lecteur::nourrir(const std::uint8_t* donnees, std::size_t taille, const Recu& recu) {
    if (!erreur_.empty()) return false;
    std::size_t i = 0;
    while (i < taille) {
        if (etat_ == Etat::EnTete) {
            const std::uint8_t c = donnees[i++];
            if (c != '\n') {
                if (ligne_.size() >= ligneMax || c < 0x20 || c > 0x7e)
                    return erreur_ = "en-tête trop long ou non ASCII", false;
                ligne_ += static_cast<char>(c);
                continue;
            }
            if (!enTete(courant_)) return false;
            ligne_.clear();
            long long longueur = 0;
            if (courant_.genre == 'F') tuilesAttendues_ = courant_.champs[2];
            if (courant_.genre == 'T') longueur = courant_.champs[4], --tuilesAttendues_;
            if (courant_.genre == 'V') longueur = courant_.champs[2];
            if (courant_.genre == 'C') longueur = courant_.champs[0];
            if (longueur > chargeMax) return erreur_ = "charge trop longue", false;
            reste_ = static_cast<std::size_t>(longueur);
            if (reste_ == 0) {
                recu(courant_);
                continue;
            }
            courant_.charge.reserve(reste_);
            etat_ = Etat::Charge;
        } else {
            const std::size_t n = std::min(reste_, taille - i);
            courant_.charge.insert(courant_.charge.end(), donnees + i, donnees + i + n);
            i += n;
            reste_ -= n;
            if (reste_ == 0) {
                etat_ = Etat::EnTete;
                recu(courant_);
            }
        }
    }
    return true;
}

bool ecrirePng(const Tableau& t, const std::string& chemin) {
    if (t.largeur <= 0 || t.hauteur <= 0) return false;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(t.largeur);
    image.height = static_cast<png_uint_32>(t.hauteur);
    image.format = PNG_FORMAT_BGR;
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(t.largeur) * t.hauteur * 3);
    for (std::size_t p = 0; p < bgr.size() / 3; ++p) std::memcpy(&bgr[p * 3], &t.bgra[p * 4], 3);
    const std::string temp = chemin + ".tmp";
    if (!png_image_write_to_file(&image, temp.c_str(), 0, bgr.data(), t.largeur * 3, nullptr)) {
        std::remove(temp.c_str());
        return false;
    }
    return std::rename(temp.c_str(), chemin.c_str()) == 0;
}

}  // namespace vimba::voir
