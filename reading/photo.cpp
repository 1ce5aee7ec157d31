#include "reading/photo.h"

#include <fcntl.h>
#include <glib.h>
#include <jpeglib.h>
#include <libyuv/scale_argb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>

#include "agent/dossier.h"
#include "agent/lancer.h"
#include "agent/bureau.h"
#include "agent/fabrique.h"
#include "reading/linux/ecran_wayland.h"

namespace vimba::photo {

std::pair<int, int> tailleReduite(int largeur, int hauteur) {
    if (largeur <= 0 || hauteur <= 0) return {0, 0};
    const int w = std::min(largeur, largeurMaximum);
    const int h = static_cast<int>(std::round(static_cast<double>(hauteur) * w / largeur));
    return {w, h};
}

std::uint64_t empreinte(const std::uint8_t* octets, std::size_t n) {
    const std::size_t pas = n < 4000 ? 1 : n / 1000;
    std::uint64_t v = 14695981039346656037ull;
    for (std::size_t i = 0; i < n; i += pas) {
        v ^= octets[i];
        v *= 1099511628211ull;
    }
    return v ^ static_cast<std::uint64_t>(n);
}

namespace {

// libjpeg reports errors by calling a function that must not return.
struct ErreurJpeg {
    jpeg_error_mgr mgr;
    std::jmp_buf saut;
};
[[noreturn]] void sortieJpeg(j_common_ptr c) { std::longjmp(reinterpret_cast<ErreurJpeg*>(c->err)->saut, 1); }

std::optional<std::vector<std::uint8_t>> encoder(const std::uint8_t* pixels, int largeur, int hauteur, int pas) {
    jpeg_compress_struct c{};
    ErreurJpeg err{};
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = sortieJpeg;
    unsigned char* sortie = nullptr;
    unsigned long taille = 0;
    if (setjmp(err.saut)) {
        jpeg_destroy_compress(&c);
        std::free(sortie);
        return std::nullopt;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &sortie, &taille);
    c.image_width = static_cast<JDIMENSION>(largeur);
    c.image_height = static_cast<JDIMENSION>(hauteur);
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, qualite, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW ligne = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(c.next_scanline) * pas);
        jpeg_write_scanlines(&c, &ligne, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> r(sortie, sortie + taille);
    std::free(sortie);
    return r;
}

bool existe(const std::string& chemin) {
    struct stat s;
    return ::lstat(chemin.c_str(), &s) == 0;
}

bool existeDans(const std::string& dossier, const std::string& nom) {
    const auto d = dossier::Dossier::ouvrir(dossier);
    return d && d->existe(nom);
}

// The whole file, when it is a regular one of some size.
std::optional<std::string> lireTout(const std::string& chemin) {
    const int fd = ::open(chemin.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat s;
    std::optional<std::string> r;
    if (::fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && s.st_size > 0) {
        std::string t(static_cast<std::size_t>(s.st_size), '\0');
        std::size_t lu = 0;
        while (lu < t.size()) {
            const ssize_t k = ::read(fd, t.data() + lu, t.size() - lu);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) break;
            lu += static_cast<std::size_t>(k);
        }
        t.resize(lu);
        if (!t.empty()) r = std::move(t);
    }
    ::close(fd);
    return r;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> jpeg(const Image& image) {
    const auto [w, h] = tailleReduite(image.largeur, image.hauteur);
    if (w <= 0 || h <= 0 || image.pixels.size() < static_cast<std::size_t>(image.pas) * image.hauteur) return std::nullopt;
    if (w == image.largeur && h == image.hauteur) return encoder(image.pixels.data(), w, h, image.pas);
    std::vector<std::uint8_t> reduit(static_cast<std::size_t>(w) * h * 4);
    if (libyuv::ARGBScale(image.pixels.data(), image.pas, image.largeur, image.hauteur, reduit.data(), w * 4, w, h,
                          libyuv::kFilterBilinear) != 0)
        return std::nullopt;
    return encoder(reduit.data(), w, h, w * 4);
}

bool ecrireAtomique(const std::string& dossier, const std::string& nom, const void* octets, std::size_t n) {
    // Through the trusted folder's descriptor: a link planted under the temporary or the
    // final name is replaced or refused, never written through.
    const auto d = dossier::Dossier::ouvrir(dossier);
    return d && d->ecrireAtomique(nom, std::string_view(static_cast<const char*>(octets), n));
}

std::vector<Outil> outilsDuSysteme() {
    return {{{"import", "-silent", "-window", "root", "{}"}},
            {{"gnome-screenshot", "-f", "{}"}},
            {{"grim", "{}"}}};
}

Photographe::Photographe(std::string dossier, std::unique_ptr<Ecran> ecran, std::vector<Outil> outils,
                         std::chrono::milliseconds delaiOutil)
    : dossier_(std::move(dossier)), ecran_(std::move(ecran)), outils_(std::move(outils)), delaiOutil_(delaiOutil) {}

namespace {
void ecrireTaille(const std::string& dossier, int largeur, int hauteur) {
    const std::string t = std::to_string(largeur) + " " + std::to_string(hauteur) + "\n";
    ecrireAtomique(dossier, "vue.txt", t.data(), t.size());
}
}  // namespace

std::string Photographe::capturer() {
    if (!ecran_->lisible()) return "refus autorisation d'écran non accordée";
    const auto image = ecran_->saisir();
    if (!image) return capturerParOutils();
    const auto octets = jpeg(*image);
    if (!octets) return capturerParOutils();
    ecrireTaille(dossier_, image->largeur, image->hauteur);
    const std::uint64_t e = empreinte(octets->data(), octets->size());
    // The fingerprint only stands for a picture still there: once "vue.jpg" is gone (the
    // agent stopped), the same screen is written again.
    if (e == empreinte_ && existeDans(dossier_, "vue.jpg")) return "ok inchange";
    empreinte_ = e;
    if (!ecrireAtomique(dossier_, "vue.jpg", octets->data(), octets->size())) return "erreur écriture image";
    return "ok vue " + std::to_string(octets->size());
}

namespace {
bool lancer(const std::vector<std::string>& arguments, std::chrono::milliseconds delai) {
    if (arguments.empty()) return false;
    std::vector<const char*> argv;
    for (const auto& a : arguments) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return lancerBorne(argv.data(), nullptr, false, delai).has_value();
}
}  // namespace

std::string Photographe::capturerParOutils() {
    // The tools write by path, so they write into a private folder of ours; only the
    // finished picture enters the shared one, through its descriptor.
    gchar* prive = g_dir_make_tmp("vimba-vue-XXXXXX", nullptr);
    if (!prive) return "erreur capture impossible";
    const std::string atelier = prive;
    g_free(prive);
    const std::string brut = atelier + "/brut.png";
    const std::string reduit = atelier + "/vue.jpg";
    auto nettoyer = [&] {
        ::unlink(brut.c_str());
        ::unlink(reduit.c_str());
        ::rmdir(atelier.c_str());
    };
    for (const auto& outil : outils_) {
        std::vector<std::string> args = outil.arguments;
        for (auto& a : args)
            if (auto i = a.find("{}"); i != std::string::npos) a.replace(i, 2, brut);
        if (lancer(args, delaiOutil_) && existe(brut)) break;
        ::unlink(brut.c_str());
    }
    if (!existe(brut)) {
        nettoyer();
        return "erreur capture impossible";
    }
    const auto [largeur, hauteur] = ecran_->taille();
    std::vector<std::string> conversion{"convert", brut};
    if (largeur > 0 && hauteur > 0) {
        ecrireTaille(dossier_, largeur, hauteur);
        // The tools take every monitor; the picture is of the main one, as "vue.txt" says.
        const auto [x, y] = ecran_->origine();
        conversion.insert(conversion.end(), {"-crop", std::to_string(largeur) + "x" + std::to_string(hauteur) + "+" +
                                                          std::to_string(x) + "+" + std::to_string(y),
                                             "+repage"});
    }
    conversion.insert(conversion.end(), {"-resize", "1440x1440>", "-quality", std::to_string(qualite), "jpeg:" + reduit});
    const auto image = lancer(conversion, delaiOutil_) ? lireTout(reduit) : std::nullopt;
    nettoyer();
    if (!image) return "erreur réduction impossible";
    if (!ecrireAtomique(dossier_, "vue.jpg", image->data(), image->size())) return "erreur écriture image";
    return "ok vue " + std::to_string(image->size()) + " (par les outils du système)";
}

}  // namespace vimba::photo

namespace vimba {
std::unique_ptr<Photographe> creerPhotographe(const std::string& dossier) {
    auto ecran = bureauCourant().affichage == Affichage::Wayland ? photo::ecranWayland() : photo::ecranX11();
    return std::make_unique<photo::Photographe>(dossier, std::move(ecran), photo::outilsDuSysteme());
}
}  // namespace vimba
