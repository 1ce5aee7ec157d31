#include "agent/wayland/sway.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "agent/descripteur.h"

namespace vimba::wayland {

namespace {

constexpr char kMagie[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr int kDelaiMs = 1000;
constexpr std::uint32_t kReponseMax = 64u << 20;

// Whole buffer or nothing, within the deadline; sway never sends partial messages on purpose.
bool transferer(int fd, char* p, std::size_t n, bool ecrire, std::chrono::steady_clock::time_point fin) {
    while (n > 0) {
        auto reste = std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now());
        if (reste.count() <= 0) return false;
        pollfd pf{fd, static_cast<short>(ecrire ? POLLOUT : POLLIN), 0};
        if (::poll(&pf, 1, static_cast<int>(reste.count())) <= 0) continue;
        ssize_t k = ecrire ? ::send(fd, p, n, MSG_NOSIGNAL) : ::recv(fd, p, n, 0);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

}  // namespace

std::optional<std::string> demanderSway(std::uint32_t type, const std::string& charge) {
    const char* chemin = std::getenv("SWAYSOCK");
    if (!chemin || !*chemin) return std::nullopt;
    sockaddr_un adresse{};
    adresse.sun_family = AF_UNIX;
    if (std::strlen(chemin) >= sizeof adresse.sun_path) return std::nullopt;
    std::strcpy(adresse.sun_path, chemin);
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.fd < 0 || ::connect(fd.fd, reinterpret_cast<sockaddr*>(&adresse), sizeof adresse) != 0)
        return std::nullopt;

    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDelaiMs);
    std::string message(kMagie, sizeof kMagie);
    std::uint32_t entete[2] = {static_cast<std::uint32_t>(charge.size()), type};
    message.append(reinterpret_cast<const char*>(entete), sizeof entete);
    message += charge;
    if (!transferer(fd.fd, message.data(), message.size(), true, fin)) return std::nullopt;

    char recu[sizeof kMagie + 8];
    if (!transferer(fd.fd, recu, sizeof recu, false, fin) || std::memcmp(recu, kMagie, sizeof kMagie) != 0)
        return std::nullopt;
    std::uint32_t taille, typeRecu;
    std::memcpy(&taille, recu + sizeof kMagie, 4);
    std::memcpy(&typeRecu, recu + sizeof kMagie + 4, 4);
    if (typeRecu != type || taille > kReponseMax) return std::nullopt;
    std::string reponse(taille, '\0');
    if (!transferer(fd.fd, reponse.data(), taille, false, fin)) return std::nullopt;
    return reponse;
}

namespace {

std::optional<FenetreSway> fenetreDe(const nlohmann::json& n) {
    try {
        FenetreSway f;
        f.pid = n.value("pid", 0);
        f.id = n.value("id", std::uint64_t{0});
        f.focalisee = n.value("focused", false);
        f.xwayland = n.value("shell", std::string()) == "xwayland";
        if (auto a = n.find("app_id"); a != n.end() && a->is_string()) f.appId = *a;
        if (f.appId.empty())
            if (auto p = n.find("window_properties"); p != n.end() && p->is_object())
                f.appId = p->value("class", std::string());
        if (auto t = n.find("name"); t != n.end() && t->is_string()) f.titre = *t;
        // rect is the container with its decorations; window_rect is the content inside it.
        const auto& r = n.at("rect");
        f.x = r.value("x", 0);
        f.y = r.value("y", 0);
        f.largeur = r.value("width", 0);
        f.hauteur = r.value("height", 0);
        if (auto w = n.find("window_rect"); w != n.end() && w->is_object()) {
            f.x += w->value("x", 0);
            f.y += w->value("y", 0);
            f.largeur = w->value("width", f.largeur);
            f.hauteur = w->value("height", f.hauteur);
        }
        return f;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

void parcourir(const nlohmann::json& n, std::vector<FenetreSway>& fenetres, int profondeur) {
    if (!n.is_object() || profondeur > 64) return;
    // A view has a pid; workspaces and split containers do not.
    if (n.contains("pid"))
        if (auto f = fenetreDe(n)) fenetres.push_back(std::move(*f));
    for (const char* cle : {"nodes", "floating_nodes"})
        if (auto it = n.find(cle); it != n.end() && it->is_array())
            for (const auto& enfant : *it) parcourir(enfant, fenetres, profondeur + 1);
}

}  // namespace

std::vector<FenetreSway> fenetresDe(const std::string& arbre) {
    std::vector<FenetreSway> fenetres;
    auto json = nlohmann::json::parse(arbre, nullptr, false);
    if (!json.is_discarded()) parcourir(json, fenetres, 0);
    return fenetres;
}

std::optional<FenetreSway> fenetreFocaliseeDe(const std::string& arbre) {
    for (auto& f : fenetresDe(arbre))
        if (f.focalisee) return f;
    return std::nullopt;
}

std::uint64_t cleFenetre(bool presente, std::uint64_t id, int pid, const std::string& titre) {
    // FNV-1a: equality is all that is asked of the key.
    std::uint64_t h = 1469598103934665603ull;
    auto melanger = [&h](const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
    };
    if (presente) {
        melanger(&id, sizeof id);
        melanger(&pid, sizeof pid);
        melanger(titre.data(), titre.size());
    }
    h &= ~(std::uint64_t{3} << 62);
    return h ? h : 1;
}

std::uint64_t cleSway() {
    auto arbre = demanderSway(kSwayArbre);
    if (!arbre) return 0;
    auto f = fenetreFocaliseeDe(*arbre);
    return f ? cleFenetre(true, f->id, f->pid, f->titre) : cleFenetre(false, 0, 0, {});
}

std::optional<FenetreSway> fenetreFocaliseeSway() {
    auto arbre = demanderSway(kSwayArbre);
    if (!arbre) return std::nullopt;
    return fenetreFocaliseeDe(*arbre);
}

}  // namespace vimba::wayland
