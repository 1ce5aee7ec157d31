// From a screen change to the first stream message carrying it (T or V), read straight from
// the agent's port and through the relay (the gate's "flux" over the technician's SSH control
// connection), one after the other in the same run. Started by flux.sh, under a desktop.
//   banc_flux_relais PORT UID SSH_CONFIG MOTEUR [CHANGEMENTS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/voir/lecteur.h"

using Horloge = std::chrono::steady_clock;

namespace {

// Where the stream's bytes come from: a loopback socket, or our end of ssh's stdin/stdout.
struct Voie {
    int fd = -1;
    pid_t ssh = -1;
};

Voie directe(int port, uid_t uid) {
    // The server lets in only the agent's account: the socket is made under that uid.
    if (::seteuid(uid) != 0) return {};
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::seteuid(0) != 0) std::exit(1);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
    return {s, -1};
}

// What "vimba-technicien voir" does per connection: one "flux" over the master.
// A socket pair, so ssh's stdin stays open as long as we read (EOF there ends the gate).
Voie parRelais(const std::string& config) {
    int p[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, p) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(p[1], 0);
        ::dup2(p[1], 1);
        ::execlp("ssh", "ssh", "-F", config.c_str(), "vimba-ordinateur", "flux", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(p[1]);
    return {p[0], pid};
}

void fermer(Voie& v) {
    if (v.fd >= 0) ::close(v.fd);
    if (v.ssh > 0) {
        ::kill(v.ssh, SIGTERM);
        ::waitpid(v.ssh, nullptr, 0);
    }
    v = {};
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

struct Mesure {
    std::vector<double> ms;
    int perdus = 0;
    char genre = 0;  // T or V: which engine actually answered
};

// Alternating colours on one square of the root window, 150 ms apart; for each, the time
// until a T or V message has arrived whole after the change.
Mesure mesurer(Voie v, Display* x, int changements) {
    Mesure m;
    if (v.fd < 0) return m;
    vimba::voir::Lecteur lecteur;
    bool image = false;
    std::vector<std::uint8_t> tampon(1 << 16);
    auto lire = [&](Horloge::time_point jusque) {
        for (auto maintenant = Horloge::now(); maintenant < jusque && !image; maintenant = Horloge::now()) {
            pollfd pf{v.fd, POLLIN, 0};
            const auto reste = std::chrono::duration_cast<std::chrono::milliseconds>(jusque - maintenant).count() + 1;
            if (::poll(&pf, 1, static_cast<int>(reste)) <= 0) continue;
            const ssize_t n = ::read(v.fd, tampon.data(), tampon.size());
            if (n <= 0) return false;
            const bool ok = lecteur.nourrir(tampon.data(), static_cast<std::size_t>(n), [&](const vimba::voir::Message& msg) {
                if (msg.genre == 'T' || msg.genre == 'V') {
                    image = true;
                    m.genre = msg.genre;
                }
            });
            if (!ok) return false;
        }
        return true;
    };
    // The first picture, then whatever follows it settles.
    if (!lire(Horloge::now() + std::chrono::seconds(15)) || !image) return m;
    for (auto calme = Horloge::now() + std::chrono::milliseconds(500); Horloge::now() < calme; image = false)
        if (!lire(calme)) return m;
    GC gc = XCreateGC(x, DefaultRootWindow(x), 0, nullptr);
    for (int i = 0; i < changements; ++i) {
        image = false;
        XSetForeground(x, gc, i % 2 ? 0x2040e0 : 0xe04020);
        const auto t0 = Horloge::now();
        XFillRectangle(x, DefaultRootWindow(x), gc, 400, 300, 96, 96);
        XFlush(x);
        if (!lire(t0 + std::chrono::seconds(2))) break;
        if (image)
            m.ms.push_back(std::chrono::duration<double, std::milli>(Horloge::now() - t0).count());
        else
            ++m.perdus;
        // What else this change brings is read and dropped before the next one.
        const auto suivant = std::max(t0 + std::chrono::milliseconds(150), Horloge::now() + std::chrono::milliseconds(40));
        while (Horloge::now() < suivant) {
            image = false;
            if (!lire(suivant)) break;
        }
    }
    XFreeGC(x, gc);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage : banc_flux_relais PORT UID SSH_CONFIG MOTEUR [CHANGEMENTS]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const uid_t uid = static_cast<uid_t>(std::atoi(argv[2]));
    const std::string config = argv[3], moteur = argv[4];
    const int n = argc > 5 ? std::atoi(argv[5]) : 50;
    Display* x = XOpenDisplay(nullptr);
    if (!x) return 1;

    // Two rounds of each path, alternated, so that a slow spell of the shared machine
    // does not fall on one path only.
    Mesure d, r;
    auto ajouter = [](Mesure& total, const Mesure& m) {
        total.ms.insert(total.ms.end(), m.ms.begin(), m.ms.end());
        total.perdus += m.perdus;
        if (m.genre) total.genre = m.genre;
    };
    for (int tour = 0; tour < 2; ++tour) {
        Voie v = directe(port, uid);
        ajouter(d, mesurer(v, x, n / 2));
        fermer(v);
        v = parRelais(config);
        ajouter(r, mesurer(v, x, n - n / 2));
        fermer(v);
    }
    XCloseDisplay(x);

    auto ligne = [&](const char* voie, const Mesure& m) {
        std::printf("  %-8s %-8s %3zu reçus %2d perdus   p50 %7.2f ms   p95 %7.2f ms\n", moteur.c_str(), voie, m.ms.size(),
                    m.perdus, quantile(m.ms, 0.5), quantile(m.ms, 0.95));
    };
    ligne("direct", d);
    ligne("relais", r);
    // The server falls back to tiles when H.264 cannot start: not what was asked.
    const char attendu = moteur == "h264" ? 'V' : 'T';
    if (d.genre != attendu || r.genre != attendu) {
        std::printf("  %-8s messages %c reçus au lieu de %c\n", moteur.c_str(), d.genre ? d.genre : '-', attendu);
        return 1;
    }
    if (d.ms.empty() || r.ms.empty()) return 1;
    std::printf("  %-8s relais/direct        p50 %7.2f      p95 %7.2f\n", moteur.c_str(),
                quantile(r.ms, 0.5) / quantile(d.ms, 0.5), quantile(r.ms, 0.95) / quantile(d.ms, 0.95));
    return 0;
}
