#include "tools/technicien/technicien.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "stream/proprietaire.h"
#include "tools/technicien/processus.h"

namespace vimba::technicien {

namespace {

const char* const aucuneSession = "aucune session en cours : commencez par « vimba-technicien code »";
constexpr std::size_t tailleMaxDemande = 1 << 20;

std::string heure(std::int64_t secondes) {
    const std::time_t t = static_cast<std::time_t>(secondes);
    std::tm local{};
    char texte[16] = "?";
    if (::localtime_r(&t, &local)) std::strftime(texte, sizeof texte, "%H:%M", &local);
    return texte;
}

// The viewer beside this program (installed or in the build tree), else on the PATH.
std::string visionneur() {
    if (const char* v = std::getenv("VIMBA_VOIR"); v && *v) return v;
    std::error_code e;
    const auto ici = std::filesystem::read_symlink("/proc/self/exe", e).parent_path();
    for (const auto& p : {ici / "vimba-voir", ici / ".." / "voir" / "vimba-voir"})
        if (!e && ::access(p.c_str(), X_OK) == 0) return p.string();
    return "vimba-voir";
}

volatile sig_atomic_t arretDemande = 0;
void surArret(int) { arretDemande = 1; }

}  // namespace

Technicien::Technicien(Configuration configuration, std::unique_ptr<Service> service, std::unique_ptr<Liaison> liaison)
    : configuration_(std::move(configuration)), service_(std::move(service)), liaison_(std::move(liaison)) {}

Issue Technicien::code() {
    std::string erreur;
    if (!verifierService(configuration_, erreur)) return {1, erreur};
    const auto cle = clePublique(configuration_, erreur);
    if (!cle) return {1, erreur};
    if (auto ancienne = lireSession(configuration_)) {
        if (ancienne->prete)
            return {1, "une session est en cours (" + ancienne->id + ") : terminez-la d’abord avec « vimba-technicien fin »"};
        // A code nobody used yet: given up for the new one.
        std::string ignore;
        service_->fermer(*ancienne, ignore);
        liaison_->fermer(*ancienne);
        oublierSession(configuration_);
    }
    Service::Code c;
    if (!service_->creerCode(configuration_.nom, *cle, c, erreur)) return {1, erreur};
    Session s;
    s.adresse = configuration_.adresse;
    s.id = c.session;
    s.code = c.code;
    s.expire = c.expire;
    if (!ecrireSession(configuration_, s, erreur)) return {1, erreur};
    return {0, c.code};
}

Issue Technicien::attendre(double delai, bool bavard) {
    auto s = lireSession(configuration_);
    if (!s) return {1, aucuneSession};
    std::string erreur;
    if (!s->prete) {
        if (!verifierService(configuration_, erreur)) return {1, erreur};
        using Horloge = std::chrono::steady_clock;
        const auto limite = Horloge::now() + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(delai));
        if (bavard)
            std::fprintf(stderr, "En attente de l’ordinateur (code %s, valable jusqu’à %s)…\n", s->code.c_str(), heure(s->expire).c_str());
        for (;;) {
            int pas = 25;
            if (delai > 0) {
                const double reste = std::chrono::duration<double>(limite - Horloge::now()).count();
                if (reste <= 0) return {2, "l’ordinateur n’a pas encore ouvert la session (code " + s->code + ")"};
                pas = std::max(1, std::min(pas, static_cast<int>(reste + 0.999)));
            }
            Service::Etat etat = Service::Etat::attente;
            if (!service_->attendre(*s, pas, etat, erreur)) return {1, erreur};
            if (etat == Service::Etat::prete) break;
            if (etat == Service::Etat::fermee || etat == Service::Etat::expiree) {
                liaison_->fermer(*s);
                oublierSession(configuration_);
                if (etat == Service::Etat::fermee) return {1, "la session a été fermée"};
                return {1, "le code " + s->code + " a expiré sans que l’ordinateur ouvre la session : demandez-en un nouveau avec « vimba-technicien code »"};
            }
        }
        if (!ecrireSession(configuration_, *s, erreur)) return {1, erreur};
    }
    if (!sessionPrete(*s, erreur)) return {1, erreur};
    return {0, "session prête : l’ordinateur attend vos demandes"};
}

bool Technicien::sessionPrete(Session& s, std::string& erreur) {
    if (!s.prete) {
        erreur = "la session n’est pas encore prête : lancez « vimba-technicien attendre »";
        return false;
    }
    if (liaison_->ouverte(s)) return true;
    // The control connection is gone (closed, or the machine slept): made again once.
    const std::string avant = s.execution;
    const bool ok = liaison_->ouvrir(s, erreur);
    std::string ignore;
    if (s.execution != avant) ecrireSession(configuration_, s, ignore);
    if (ok) return true;
    // Most often the person ended the session: the service knows, and it says it better.
    Session copie = s;
    Service::Etat etat = Service::Etat::prete;
    if (verifierService(configuration_, ignore) && service_->attendre(copie, 1, etat, ignore) &&
        (etat == Service::Etat::fermee || etat == Service::Etat::expiree)) {
        liaison_->fermer(s);
        oublierSession(configuration_);
        erreur = "la session a été fermée";
    }
    return false;
}

Issue Technicien::demande(const std::string& requete) {
    if (requete.size() > tailleMaxDemande) return {2, "demande trop longue (plus de 1 Mio)"};
    auto s = lireSession(configuration_);
    if (!s) return {2, aucuneSession};
    std::string erreur;
    if (!sessionPrete(*s, erreur)) return {2, erreur};
    const auto r = liaison_->executer(*s, "demande", requete);
    if (r.statut == 0 || r.statut == 1) return {r.statut, r.sortie};
    if (r.statut == -1) return {2, r.erreur};
    if (r.statut == 3) return {2, "l’ordinateur a refusé la commande « demande »"};
    std::string pourquoi = r.erreur;
    while (!pourquoi.empty() && (pourquoi.back() == '\n' || pourquoi.back() == '\r')) pourquoi.pop_back();
    return {2, pourquoi.empty() ? "pas de réponse de l’agent sur l’ordinateur" : pourquoi};
}

Issue Technicien::vue(std::string& jpeg) {
    Issue r = demande("vue");
    if (r.statut != 0) return r;
    auto s = lireSession(configuration_);
    if (!s) return {2, aucuneSession};
    const auto image = liaison_->executer(*s, "lire vue.jpg", "");
    if (image.statut == -1) return {2, image.erreur};
    if (image.statut != 0) return {2, "l’ordinateur n’a pas d’image vue.jpg à rapporter"};
    if (image.sortie.size() < 4 || static_cast<unsigned char>(image.sortie[0]) != 0xFF || static_cast<unsigned char>(image.sortie[1]) != 0xD8)
        return {2, "l’ordinateur a rapporté autre chose qu’une image JPEG"};
    jpeg = image.sortie;
    return r;
}

int Technicien::voir(const std::vector<std::string>& mots, const std::vector<std::string>& options, std::string& erreur) {
    std::string requete = "flux";
    for (const auto& m : mots) requete += " " + m;
    const Issue r = demande(requete);
    if (r.statut != 0) {
        erreur = r.texte;
        return r.statut == 1 ? 1 : 2;
    }
    auto s = lireSession(configuration_);
    if (!s) return erreur = aucuneSession, 2;

    // The viewer connects to a loopback port here; each connection becomes one "flux" command.
    const int ecoute = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t longueur = sizeof a;
    if (ecoute < 0 || ::bind(ecoute, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(ecoute, 4) != 0 ||
        ::getsockname(ecoute, reinterpret_cast<sockaddr*>(&a), &longueur) != 0) {
        if (ecoute >= 0) ::close(ecoute);
        demande("flux-stop");
        erreur = "impossible d’ouvrir un port local pour le flux";
        return 2;
    }
    std::vector<std::string> argv = {visionneur(), "--port", std::to_string(ntohs(a.sin_port))};
    std::vector<std::string> suite = options;
    if (suite.empty() && std::getenv("DISPLAY")) suite = {"--fenetre"};
    argv.insert(argv.end(), suite.begin(), suite.end());

    // Ctrl-C reaches the viewer, which ends; the bridges and the stream are stopped after it.
    struct sigaction ancienInt {}, ancienTerm {}, arret {}, ignorer {};
    arret.sa_handler = surArret;
    ignorer.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignorer, &ancienInt);
    ::sigaction(SIGTERM, &arret, &ancienTerm);
    const pid_t vue = lancer(argv, STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO);
    int code = 2;
    std::vector<pid_t> ponts;
    if (vue < 0) {
        erreur = "visionneur introuvable : " + argv[0];
    } else {
        for (;;) {
            int etat = 0;
            if (::waitpid(vue, &etat, WNOHANG) == vue) {
                code = WIFEXITED(etat) ? WEXITSTATUS(etat) : 2;
                break;
            }
            if (arretDemande) {
                ::kill(vue, SIGTERM);
                arretDemande = 0;
            }
            for (auto it = ponts.begin(); it != ponts.end();)
                it = ::waitpid(*it, &etat, WNOHANG) == *it ? ponts.erase(it) : it + 1;
            pollfd p{ecoute, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int client = ::accept4(ecoute, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            // The person's screen goes to this account's programs only, not to whoever on
            // this machine finds the port.
            const auto compte = vimba::flux::proprietaireDuPair(client);
            if (!compte || *compte != ::getuid()) {
                std::fprintf(stderr, "vimba-technicien : connexion au flux refusée, elle ne vient pas de votre compte\n");
            } else if (const pid_t pont = liaison_->brancher(*s, "flux", client); pont > 0) {
                ponts.push_back(pont);
            }
            ::close(client);
        }
    }
    ::close(ecoute);
    for (const pid_t p : ponts) ::kill(p, SIGTERM);
    for (const pid_t p : ponts) attendreFin(p, 5);
    ::sigaction(SIGINT, &ancienInt, nullptr);
    ::sigaction(SIGTERM, &ancienTerm, nullptr);
    demande("flux-stop");
    return code;
}

Issue Technicien::fin() {
    auto s = lireSession(configuration_);
    if (!s) return {1, "aucune session en cours"};
    std::string erreur;
    const bool service = verifierService(configuration_, erreur) && service_->fermer(*s, erreur);
    liaison_->fermer(*s);
    if (!service) {
        // Kept so that "fin" can be tried again once the service answers.
        std::string ignore;
        ecrireSession(configuration_, *s, ignore);
        return {1, erreur + " ; la session " + s->id + " reste ouverte côté service (liaison SSH fermée)"};
    }
    oublierSession(configuration_);
    return {0, "session " + s->id + " terminée"};
}

}  // namespace vimba::technicien
