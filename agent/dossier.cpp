#include "agent/descripteur.h"
#include "agent/dossier.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vimba::dossier {

namespace {

bool toutEcrire(int fd, std::string_view s) {
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

std::string nomProvisoire() {
    // O_EXCL is the protection; randomness only spares retries against planted names.
    unsigned char alea[8] = {};
    if (::getrandom(alea, sizeof alea, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof alea)) {
        static std::atomic<unsigned long> n{0};
        const unsigned long v = static_cast<unsigned long>(::getpid()) << 24 ^ ++n;
        std::memcpy(alea, &v, sizeof alea);
    }
    std::string nom = ".vimba-";
    char h[3];
    for (unsigned char c : alea) {
        std::snprintf(h, sizeof h, "%02x", c);
        nom += h;
    }
    return nom;
}
// Named entries of an access ACL reach other accounts through the group bits (the mask):
// one that grants anything to an account outside the session opens the folder to it.
bool aclOuverte(int fd, mode_t mode, const std::optional<Technicien>& t) {
    std::uint8_t acl[1024];
    const ssize_t n = ::fgetxattr(fd, "system.posix_acl_access", acl, sizeof acl);
    if (n < 0) return errno == ERANGE;  // too many entries to be one of ours
    const unsigned masque = (mode >> 3) & 7;
    for (ssize_t i = 4; i + 8 <= n; i += 8) {
        std::uint16_t etiquette, droits;
        std::uint32_t id;
        std::memcpy(&etiquette, acl + i, 2);
        std::memcpy(&droits, acl + i + 2, 2);
        std::memcpy(&id, acl + i + 4, 4);
        const bool utilisateur = etiquette == 0x02, groupe = etiquette == 0x08;
        if (!(utilisateur || groupe) || (droits & masque) == 0) continue;
        if (t && ((utilisateur && id == t->uid) || (groupe && id == t->gid))) continue;
        if (utilisateur && id == ::geteuid()) continue;
        return true;
    }
    return false;
}
}  // namespace

std::optional<Technicien> technicien() {
    passwd pw{};
    passwd* trouve = nullptr;
    char tampon[4096];
    if (::getpwnam_r(compteTechnicien, &pw, tampon, sizeof tampon, &trouve) != 0 || !trouve) return std::nullopt;
    return Technicien{pw.pw_uid, pw.pw_gid};
}

bool compteDeLaSession(uid_t uid) {
    if (uid == ::geteuid()) return true;
    const auto t = technicien();
    return t && t->uid == uid;
}

std::optional<Dossier> Dossier::ouvrir(const std::string& chemin, Verdict* verdict) {
    Verdict v = Verdict::Sur;
    int fd = ::open(chemin.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) {
        v = errno == ELOOP || (errno == ENOTDIR && ::lstat(chemin.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ? Verdict::Lien
                                                                                                            : Verdict::Absent;
    } else if (::fstat(fd, &st) != 0) {
        v = Verdict::Absent;
    } else if (st.st_uid != ::geteuid()) {
        v = Verdict::PasAMoi;
    } else if (st.st_mode & S_IRWXO) {
        v = Verdict::OuvertAuxAutres;
    } else if (st.st_mode & S_IRWXG) {
        const auto t = technicien();
        if (!t || t->gid != st.st_gid)
            v = Verdict::GroupeEtranger;
        else if (aclOuverte(fd, st.st_mode, t))
            v = Verdict::OuvertAuxAutres;
    }
    if (verdict) *verdict = v;
    if (v != Verdict::Sur) {
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    return Dossier(fd, st.st_gid);
}

Dossier::~Dossier() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::vector<std::string>> Dossier::lister() const {
    // A description of its own, so that each listing starts from the beginning.
    const int f = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (f < 0) return std::nullopt;
    DIR* d = ::fdopendir(f);
    if (!d) {
        ::close(f);
        return std::nullopt;
    }
    std::vector<std::string> noms;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") noms.emplace_back(n);
    }
    ::closedir(d);
    return noms;
}

Lecture Dossier::lire(const std::string& nom, std::string& contenu, std::size_t maximum) const {
    Fd f(::openat(fd_, nom.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (f.fd < 0) {
        if (errno == ENOENT) return Lecture::Absente;
        if (errno == ELOOP || errno == EISDIR || errno == ENXIO) return Lecture::PasUnFichier;
        return Lecture::Illisible;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return Lecture::Illisible;
    if (!S_ISREG(st.st_mode)) return Lecture::PasUnFichier;
    // A second link would be some other file of ours made to look like a request.
    if (!compteDeLaSession(st.st_uid) || st.st_nlink != 1) return Lecture::Etrangere;
    contenu.clear();
    // The size is only a claim (a sparse file can say a terabyte): never reserve by it.
    if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > maximum) return Lecture::TropLongue;
    contenu.reserve(static_cast<std::size_t>(st.st_size));
    char tampon[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, tampon, sizeof tampon);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return Lecture::Illisible;
        }
        // A file still growing is cut off at the same bound.
        if (static_cast<std::size_t>(n) > maximum - contenu.size()) {
            contenu.clear();
            return Lecture::TropLongue;
        }
        contenu.append(tampon, static_cast<std::size_t>(n));
    }
    return Lecture::Lue;
}

bool Dossier::existe(const std::string& nom) const {
    struct stat st {};
    return ::fstatat(fd_, nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Dossier::supprimer(const std::string& nom) const { return ::unlinkat(fd_, nom.c_str(), 0) == 0; }

bool Dossier::retirer(const std::string& nom) const {
    if (::unlinkat(fd_, nom.c_str(), 0) == 0) return true;
    return errno == EISDIR && ::unlinkat(fd_, nom.c_str(), AT_REMOVEDIR) == 0;
}

bool Dossier::ecrireAtomique(const std::string& nom, std::string_view contenu) const {
    std::string provisoire;
    int fd = -1;
    for (int essai = 0; essai < 8 && fd < 0; ++essai) {
        provisoire = nomProvisoire();
        fd = ::openat(fd_, provisoire.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    Fd f(fd);
    // The technician reads through the folder's group; a folder without setgid would
    // otherwise give the file our own group. Not being in that group leaves ours.
    struct stat st {};
    if (::fstat(f.fd, &st) == 0 && st.st_gid != gid_) {
        [[maybe_unused]] const int r = ::fchown(f.fd, static_cast<uid_t>(-1), gid_);
    }
    bool ok = ::fchmod(f.fd, 0640) == 0 && toutEcrire(f.fd, contenu);
    ok = ::close(f.fd) == 0 && ok;
    f.fd = -1;
    if (ok && ::renameat(fd_, provisoire.c_str(), fd_, nom.c_str()) == 0) return true;
    ::unlinkat(fd_, provisoire.c_str(), 0);
    return false;
}

std::string expliquer(Verdict v, const std::string& chemin) {
    const std::string d = "le dossier « " + chemin + " » ";
    switch (v) {
        case Verdict::Sur: return {};
        case Verdict::Absent: return d + "n’existe pas encore";
        case Verdict::Lien: return d + "est un lien : aucune demande n’y sera prise";
        case Verdict::PasAMoi: return d + "appartient à un autre compte : aucune demande n’y sera prise";
        case Verdict::OuvertAuxAutres: return d + "est ouvert à d’autres comptes : aucune demande n’y sera prise";
        case Verdict::GroupeEtranger:
            return d + "est partagé avec un groupe autre que celui du technicien : aucune demande n’y sera prise";
    }
    return {};
}

}  // namespace vimba::dossier
