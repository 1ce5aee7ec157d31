#include "agent/descripteur.h"
#include "tools/canal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace vimba::canal {

namespace {

using Horloge = std::chrono::steady_clock;
// The agent renews its mark every second while it works, between two steps of a request;
// one step can last a few seconds when the accessibility bus is slow to answer.
constexpr auto signeDeVie = std::chrono::seconds(10);
// A file's time comes from the kernel's coarse clock, a tick behind the clock read here: a
// mark the agent wrote just after the request appeared can look a few milliseconds older.
constexpr auto retardDesDates = std::chrono::milliseconds(50);


// Fixed-width time stamp then process id: sorts after every earlier request, never clashes.
std::string identifiant() {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    char id[64];
    std::snprintf(id, sizeof id, "%020lld-%010d", static_cast<long long>(ns), static_cast<int>(::getpid()));
    return id;
}

bool ecrireTout(int fd, const std::string& s) {
    std::size_t fait = 0;
    while (fait < s.size()) {
        const ssize_t n = ::write(fd, s.data() + fait, s.size() - fait);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        fait += static_cast<std::size_t>(n);
    }
    return true;
}

// The reply only once it is a whole regular file (the agent renames it into place).
bool lireReponse(int dossier, const std::string& nom, std::string& contenu) {
    Fd f(::openat(dossier, nom.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    contenu.clear();
    char tampon[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, tampon, sizeof tampon);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        contenu.append(tampon, static_cast<std::size_t>(n));
    }
}

// When the agent last showed it was working on a request, on the steady clock; none
// without a mark.
std::optional<Horloge::time_point> derniereActivite(int dossier) {
    struct stat st {};
    if (::fstatat(dossier, "en-cours", &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto ecrit = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    const auto age = std::max(std::chrono::system_clock::duration::zero(), std::chrono::system_clock::now() - ecrit);
    return Horloge::now() - std::chrono::duration_cast<Horloge::duration>(age);
}

// Tells the agent its reply is no longer awaited, so that it does not stay in the folder.
void abandonner(int dossier, const std::string& id) {
    const std::string nom = "abandon-" + id;
    Fd f(::openat(dossier, (nom + ".tmp").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (f.fd < 0) return;
    ::close(f.fd);
    f.fd = -1;
    if (::renameat(dossier, (nom + ".tmp").c_str(), dossier, nom.c_str()) != 0) ::unlinkat(dossier, (nom + ".tmp").c_str(), 0);
}

Resultat impossible(std::string raison) { return {Resultat::Etat::Impossible, {}, std::move(raison)}; }

}  // namespace

Resultat demander(const std::string& dossier, const std::string& demande, const Options& options) {
    Fd d(::open(dossier.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (options.sansLien ? O_NOFOLLOW : 0)));
    if (d.fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) return impossible("le dossier " + dossier + " n’est pas un vrai dossier");
        return impossible("le dossier " + dossier + " n’existe pas (aucune session ouverte ?)");
    }

    const std::string id = identifiant();
    const std::string temporaire = "demande-" + id + ".tmp";
    const std::string finale = "demande-" + id;
    const std::string reponse = "reponse-" + id;
    const auto debut = Horloge::now();

    // Watch before the request appears, so the reply cannot slip past.
    Fd ino(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (ino.fd >= 0) {
        const std::string chemin = "/proc/self/fd/" + std::to_string(d.fd);
        if (::inotify_add_watch(ino.fd, chemin.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM) < 0) {
            ::close(ino.fd);
            ino.fd = -1;
        }
    }

    {
        Fd f(::openat(d.fd, temporaire.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        // Readable by the agent whatever the umask: the technician's side may be another account.
        bool ecrit = f.fd >= 0 && ::fchmod(f.fd, 0644) == 0 && ecrireTout(f.fd, demande);
        const int err = errno;
        if (f.fd >= 0 && ::close(f.fd) != 0) ecrit = false;
        f.fd = -1;
        if (!ecrit || ::renameat(d.fd, temporaire.c_str(), d.fd, finale.c_str()) != 0) {
            const int e = ecrit ? errno : err;
            ::unlinkat(d.fd, temporaire.c_str(), 0);
            return impossible("impossible d’écrire la demande dans " + dossier + " : " + std::strerror(e));
        }
    }

    auto limitePrise = debut + options.prise;
    auto limite = debut + std::max(options.prise, options.totale);
    bool prise = false;
    std::string texte;
    for (;;) {
        if (lireReponse(d.fd, reponse, texte)) break;
        if (options.tantQueOccupe)
            if (const auto vu = derniereActivite(d.fd); vu && *vu + retardDesDates > debut) {
                limitePrise = std::max(limitePrise, *vu + signeDeVie);
                limite = std::max(limite, *vu + signeDeVie);
            }
        const auto maintenant = Horloge::now();
        if (!prise && maintenant >= limitePrise) {
            // Take the request back if nobody took it, so it does not run later by surprise;
            // when it is already gone, the agent has it and the reply may still come.
            if (::unlinkat(d.fd, finale.c_str(), 0) == 0) return {Resultat::Etat::SansReponse, {}, "pas de réponse (l’agent tourne-t-il ?)"};
            prise = true;
        }
        if (maintenant >= limite) {
            if (lireReponse(d.fd, reponse, texte)) break;
            // The agent has the request: tell it, then look once more, as the reply may
            // have come in between (the agent looks for the mark after writing too).
            abandonner(d.fd, id);
            const bool venue = lireReponse(d.fd, reponse, texte);
            ::unlinkat(d.fd, reponse.c_str(), 0);
            if (venue) {
                ::unlinkat(d.fd, ("abandon-" + id).c_str(), 0);
                return {Resultat::Etat::Repondue, std::move(texte), {}};
            }
            return {Resultat::Etat::SansReponse, {}, "pas de réponse à temps"};
        }
        const auto prochaine = prise ? limite : limitePrise;
        const auto reste = std::chrono::duration_cast<std::chrono::milliseconds>(prochaine - maintenant).count() + 1;
        if (ino.fd >= 0) {
            pollfd p{ino.fd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::min<long long>(reste, 50)));
            char evenements[4096];
            while (::read(ino.fd, evenements, sizeof evenements) > 0) {
            }
        } else {
            ::usleep(2000);
        }
    }
    ::unlinkat(d.fd, reponse.c_str(), 0);
    return {Resultat::Etat::Repondue, std::move(texte), {}};
}

std::string pourTerminal(std::string_view s) {
    std::string r;
    char h[16];
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        // Length of a well-formed UTF-8 sequence starting here, 0 when there is none.
        std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        char32_t u = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (std::size_t k = 1; k < n; ++k) {
            const auto suite = i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0;
            if ((suite & 0xC0) != 0x80) {
                n = 0;
                break;
            }
            u = u << 6 | (suite & 0x3F);
        }
        if (n == 3 && (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF))) n = 0;
        if (n == 4 && (u < 0x10000 || u > 0x10FFFF)) n = 0;
        if (n == 0) {
            std::snprintf(h, sizeof h, "\\x%02X", c);
            r += h;
            ++i;
            continue;
        }
        if ((u < 0x20 && u != '\n' && u != '\t') || (u >= 0x7F && u <= 0x9F)) {
            std::snprintf(h, sizeof h, "\\x%02X", static_cast<unsigned>(u));
            r += h;
        } else if ((u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069)) {
            std::snprintf(h, sizeof h, "\\u{%04X}", static_cast<unsigned>(u));
            r += h;
        } else {
            r.append(s.substr(i, n));
        }
        i += n;
    }
    return r;
}

int codeDeSortie(const Resultat& r) {
    if (r.etat != Resultat::Etat::Repondue) return 2;
    return r.texte.rfind("ok ", 0) == 0 ? 0 : 1;
}

}  // namespace vimba::canal
