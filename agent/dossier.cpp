#include "agent/dossier.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vimba::dossier {

namespace {
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

int ouvrirDossier(const std::string& dossier) { return ::open(dossier.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

bool toutEcrire(int fd, const std::string& s) {
    std::size_t fait = 0;
    while (fait < s.size()) {
        const ssize_t n = ::write(fd, s.data() + fait, s.size() - fait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        fait += static_cast<std::size_t>(n);
    }
    return true;
}
}  // namespace

std::optional<std::vector<std::string>> lister(const std::string& dossier) {
    DIR* d = ::opendir(dossier.c_str());
    if (!d) return std::nullopt;
    std::vector<std::string> noms;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") noms.emplace_back(n);
    }
    ::closedir(d);
    return noms;
}

Lecture lireFichier(const std::string& dossier, const std::string& nom, std::string& contenu) {
    Fd d(ouvrirDossier(dossier));
    if (d.fd < 0) return Lecture::Absente;
    Fd f(::openat(d.fd, nom.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (f.fd < 0) {
        if (errno == ENOENT) return Lecture::Absente;
        if (errno == ELOOP || errno == EISDIR || errno == ENXIO) return Lecture::PasUnFichier;
        return Lecture::Illisible;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return Lecture::Illisible;
    if (!S_ISREG(st.st_mode)) return Lecture::PasUnFichier;
    contenu.clear();
    if (st.st_size > 0) contenu.reserve(static_cast<std::size_t>(st.st_size));
    char tampon[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, tampon, sizeof tampon);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return Lecture::Illisible;
        }
        contenu.append(tampon, static_cast<std::size_t>(n));
    }
    return Lecture::Lue;
}

bool supprimer(const std::string& dossier, const std::string& nom) {
    Fd d(ouvrirDossier(dossier));
    return d.fd >= 0 && ::unlinkat(d.fd, nom.c_str(), 0) == 0;
}

bool retirer(const std::string& dossier, const std::string& nom) {
    Fd d(ouvrirDossier(dossier));
    if (d.fd < 0) return false;
    if (::unlinkat(d.fd, nom.c_str(), 0) == 0) return true;
    return errno == EISDIR && ::unlinkat(d.fd, nom.c_str(), AT_REMOVEDIR) == 0;
}

bool ecrireAtomique(const std::string& dossier, const std::string& nom, const std::string& contenu) {
    std::string modele = dossier + "/.vimba-XXXXXX";
    Fd f(::mkostemp(modele.data(), O_CLOEXEC));
    if (f.fd < 0) return false;
    // Same rights as an ordinary new file: the technician's side may run as another user.
    const bool ecrit = ::fchmod(f.fd, 0644) == 0 && toutEcrire(f.fd, contenu);
    const bool ferme = ::close(f.fd) == 0;
    f.fd = -1;
    if (ecrit && ferme && ::rename(modele.c_str(), (dossier + "/" + nom).c_str()) == 0) return true;
    ::unlink(modele.c_str());
    return false;
}

}  // namespace vimba::dossier
