#include "stream/diffuseur.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "agent/dossier.h"
#include "agent/fabrique.h"
#include "agent/linux/ecran_x11.h"
#include "agent/bureau.h"
#include "stream/capteur_wayland.h"
#include "stream/capteur_x11.h"
#include "stream/format.h"
#include "stream/masque.h"
#include "stream/proprietaire.h"

namespace vimba::flux {

using asio::ip::tcp;

bool pairAccepte(const std::string& t) {
    return t.rfind("127.0.0.1", 0) == 0 || t == "::1" || t.rfind("localhost", 0) == 0;
}

bool compteAccepte(int connexion) {
    const auto uid = proprietaireDuPair(connexion);
    return uid && dossier::compteDeLaSession(*uid);
}

namespace {

// flux.port, whole, through the trusted folder's descriptor; failures are ignored.
void ecrirePort(const std::string& dossier, const std::string& contenu) {
    if (const auto d = dossier::Dossier::ouvrir(dossier)) d->ecrireAtomique("flux.port", contenu);
}

// A stale port would let any process that listens there next pose as the stream.
void retirerPort(const std::string& dossier) {
    if (dossier.empty()) return;
    if (const auto d = dossier::Dossier::ouvrir(dossier)) d->supprimer("flux.port");
}

std::string texteDuPair(const tcp::endpoint& e) {
    const auto a = e.address();
    if (a.is_v6() && a.to_v6().is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6()).to_string();
    return a.to_string();
}

// Heartbeats queued past this many unsent messages are dropped: a viewer that never
// reads must not make the server grow.
constexpr int enVolMaxBattement = 4;

}  // namespace

// The server's state; lives on the Asio thread, held weakly by every callback.
struct Diffuseur::Coeur : std::enable_shared_from_this<Coeur>, Lien {
    mutable asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> garde = asio::make_work_guard(io);
    std::thread fil;
    FabriqueSource source;
    Saisie saisie;
    Pointeur pointeurSource;
    const Masque masque = std::make_shared<EtatMasque>();

    // Published for the main thread.
    std::atomic<std::uint16_t> portPublie{0};
    mutable std::mutex verrouMoteur;
    std::string moteurNom = "aucun";
    std::atomic<std::uint64_t> imagesAnciennes{0}, octetsAnciens{0};
    std::atomic<double> msCaptureDernier{0};

    // Server thread only.
    int largeurCible = 1440;
    double qualite = 0.45;
    std::string moteurDemande = "h264";
    std::string dossier;
    std::unique_ptr<tcp::acceptor> ecouteur;
    std::unique_ptr<asio::steady_timer> reveil;
    std::chrono::milliseconds repos{0};
    std::shared_ptr<tcp::socket> lien;
    std::deque<std::shared_ptr<std::vector<std::uint8_t>>> file;
    bool ecriture = false;
    std::shared_ptr<Moteur> moteur;
    std::unique_ptr<asio::steady_timer> battement;
    std::chrono::steady_clock::time_point derniereTrame{};
    int grilleLargeur = 0, grilleHauteur = 0;
    std::atomic<int> enVol_{0};
    std::atomic<std::int64_t> octetsEnVol_{0};
    // The server thread's own connection, opened there: no other thread uses it.
    mutable Display* affichage = nullptr;
    mutable bool affichageEssaye = false;
    // Engines start on a thread of their own (a capture source may take 4 s to answer), one
    // at a time; a start that finishes for a viewer since replaced or gone is discarded.
    std::uint64_t generation = 0;
    bool demarrageEnCours = false;

    ~Coeur() override {
        if (affichage) XCloseDisplay(affichage);
    }

    void nommer(const std::string& nom) {
        std::lock_guard v(verrouMoteur);
        moteurNom = nom;
    }

    // Runs `f` on the server's thread and waits for it.
    template <class F>
    void surLeFil(F f) const {
        std::promise<void> fini;
        auto attente = fini.get_future();
        asio::post(io, [&] {
            f();
            fini.set_value();
        });
        attente.wait();
    }

    // --- Lien ---
    bool pret() const override { return lien && lien->is_open(); }
    int enVol() const override { return enVol_; }
    std::int64_t octetsEnVol() const override { return octetsEnVol_; }
    void poster(std::function<void()> travail) override { asio::post(io, std::move(travail)); }
    void trameEnvoyee(int largeur, int hauteur) override {
        derniereTrame = std::chrono::steady_clock::now();
        grilleLargeur = largeur;
        grilleHauteur = hauteur;
    }
    std::pair<int, int> pointeur(int largeurImage, int hauteurImage) const override {
        if (pointeurSource) return pointeurSource(largeurImage, hauteurImage);
        if (!affichageEssaye) {
            affichageEssaye = true;
            affichage = XOpenDisplay(nullptr);
        }
        if (!affichage || largeurImage <= 0 || hauteurImage <= 0) return {-1, -1};
        const auto m = x11::moniteurPrincipal(affichage);
        if (m.largeur <= 0 || m.hauteur <= 0) return {-1, -1};
        Window r, e;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned masque = 0;
        if (!XQueryPointer(affichage, DefaultRootWindow(affichage), &r, &e, &rx, &ry, &wx, &wy, &masque)) return {-1, -1};
        // Each axis on its own: the frame keeps its size when the display changes shape.
        return {arrondir((rx - m.x) * static_cast<double>(largeurImage) / m.largeur),
                arrondir((ry - m.y) * static_cast<double>(hauteurImage) / m.hauteur)};
    }
    void envoyer(std::vector<std::uint8_t> message) override {
        if (!lien) return;
        enVol_ += 1;
        octetsEnVol_ += static_cast<std::int64_t>(message.size());
        file.push_back(std::make_shared<std::vector<std::uint8_t>>(std::move(message)));
        ecrire();
    }

    void ecrire() {
        if (ecriture || file.empty() || !lien) return;
        ecriture = true;
        auto message = file.front();
        file.pop_front();
        std::weak_ptr<Coeur> faible = weak_from_this();
        auto socket = lien;
        asio::async_write(*socket, asio::buffer(*message), [faible, message, socket](const std::error_code& ec, std::size_t) {
            auto c = faible.lock();
            if (!c) return;
            asio::post(c->io, [faible, n = static_cast<std::int64_t>(message->size()), socket, perdu = bool(ec)] {
                auto c = faible.lock();
                if (!c) return;
                c->relacher(n);
                if (socket != c->lien) return;
                // A viewer may close its sending half and still read: only a failed send says it left.
                if (perdu) {
                    c->lienPerdu();
                    return;
                }
                c->ecriture = false;
                c->ecrire();
            });
        });
    }
    void relacher(std::int64_t n) {
        enVol_ = std::max(enVol_ - 1, 0);
        octetsEnVol_ = std::max<std::int64_t>(octetsEnVol_ - n, 0);
    }
    // Messages queued for a link that is gone still release their counts.
    void abandonnerFile() {
        for (auto& m : file) relacher(static_cast<std::int64_t>(m->size()));
        file.clear();
        ecriture = false;
    }

    // --- listener and connections ---
    void ecouter() {
        std::error_code ec;
        auto a = std::make_unique<tcp::acceptor>(io);
        a->open(tcp::v6(), ec);
        if (!ec) a->set_option(asio::ip::v6_only(false), ec);
        if (!ec) a->bind(tcp::endpoint(tcp::v6(), 0), ec);
        if (ec) {  // no IPv6 on this machine: IPv4 alone
            a = std::make_unique<tcp::acceptor>(io);
            ec.clear();
            a->open(tcp::v4(), ec);
            if (!ec) a->bind(tcp::endpoint(tcp::v4(), 0), ec);
        }
        if (!ec) a->listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            ecrirePort(dossier, "0\n");
            return;
        }
        const auto port = a->local_endpoint(ec).port();
        ecouteur = std::move(a);
        portPublie = port;
        ecrirePort(dossier, std::to_string(port) + "\n");
        attendre();
    }
    void attendre() {
        if (!ecouteur) return;
        std::weak_ptr<Coeur> faible = weak_from_this();
        ecouteur->async_accept([faible, a = ecouteur.get()](const std::error_code& ec, tcp::socket s) {
            auto c = faible.lock();
            if (!c || ec == asio::error::operation_aborted || c->ecouteur.get() != a) return;
            if (ec) {
                c->reposer();
                return;
            }
            c->repos = std::chrono::milliseconds(0);
            c->accepter(std::make_shared<tcp::socket>(std::move(s)));
            c->attendre();
        });
    }
    // A persistent accept error (no descriptor left) would spin the thread if re-armed
    // at once: wait 100 ms, doubling up to 1 s, until an accept succeeds.
    void reposer() {
        repos = std::clamp(repos * 2, std::chrono::milliseconds(100), std::chrono::milliseconds(1000));
        reveil = std::make_unique<asio::steady_timer>(io, repos);
        std::weak_ptr<Coeur> faible = weak_from_this();
        reveil->async_wait([faible, t = reveil.get()](const std::error_code& ec) {
            auto c = faible.lock();
            if (ec || !c || c->reveil.get() != t) return;
            c->attendre();
        });
    }
    void accepter(std::shared_ptr<tcp::socket> s) {
        std::error_code ec;
        const auto pair = s->remote_endpoint(ec);
        if (ec || !pairAccepte(texteDuPair(pair)) || !compteAccepte(s->native_handle())) {
            s->close(ec);
            return;
        }
        fermerLien();
        lien = s;
        s->set_option(tcp::no_delay(true), ec);
        surveiller(s);
        pret_();
    }
    // The viewer sends nothing; reading only tells us when it leaves. Its end of stream
    // may be a half close, so it ends the watch, not the link: the next failed send does.
    void surveiller(const std::shared_ptr<tcp::socket>& s) {
        auto tampon = std::make_shared<std::array<char, 256>>();
        std::weak_ptr<Coeur> faible = weak_from_this();
        s->async_read_some(asio::buffer(*tampon), [faible, s, tampon](const std::error_code& ec, std::size_t) {
            auto c = faible.lock();
            if (!c) return;
            if (!ec) {
                c->surveiller(s);
                return;
            }
            if (ec != asio::error::eof && s == c->lien) c->lienPerdu();
        });
    }
    void lienPerdu() {
        fermerLien();
        // Only the polling engine stops; the others send nothing while no viewer is ready.
        if (moteur && moteur->nom() == "tuiles-anciennes") moteur->arreter();
    }
    void fermerLien() {
        if (!lien) return;
        std::error_code ec;
        lien->shutdown(tcp::socket::shutdown_both, ec);
        lien->close(ec);
        lien.reset();
        abandonnerFile();
    }

    // A viewer is ready: a new engine replaces the old one, started off this thread.
    void pret_() {
        garderCompteurs();
        if (moteur) moteur->arreter();
        moteur.reset();
        nommer("aucun");
        if (battement) battement->cancel();
        battement.reset();
        grilleLargeur = grilleHauteur = 0;  // no heartbeat before the new engine's first picture
        generation += 1;
        if (!demarrageEnCours) demarrerMoteur();
    }
    void demarrerMoteur() {
        demarrageEnCours = true;
        ContexteMoteur contexte{this, source, largeurCible, qualite};
        std::thread([moi = shared_from_this(), contexte, demande = moteurDemande, g = generation] {
            std::unique_ptr<Moteur> m;
            if (demande == "h264") {
                m = creerMoteurH264(contexte);
                if (m && !m->demarrer()) m.reset();
            }
            if (!m) {
                m = creerMoteurTuiles(contexte);
                if (!m->demarrer()) m.reset();
            }
            // Shared: the task ends it whether it runs or is dropped with a stopped server.
            std::shared_ptr<Moteur> pris(std::move(m));
            std::weak_ptr<Coeur> faible = moi;
            asio::post(moi->io, [faible, pris, g]() mutable {
                if (auto c = faible.lock()) c->moteurDemarre(std::move(pris), g);
            });
        }).detach();
    }
    void moteurDemarre(std::shared_ptr<Moteur> m, std::uint64_t g) {
        demarrageEnCours = false;
        if (g != generation || !pret()) {
            if (m) m->arreter();
            if (g != generation && pret()) demarrerMoteur();
            return;
        }
        if (m) {
            moteur = std::move(m);
        } else {
            // The polling engine runs on this thread's timers; it starts at once.
            moteur = creerMoteurTuilesAnciennes(ContexteMoteur{this, source, largeurCible, qualite}, io, saisie);
            if (!moteur->demarrer()) moteur.reset();
        }
        if (!moteur) return;
        nommer(moteur->nom());
        if (moteur->avecBattement()) lancerBattement();
    }
    void garderCompteurs() {
        if (!moteur) return;
        imagesAnciennes += moteur->images();
        octetsAnciens += moteur->octets();
        msCaptureDernier = moteur->msCapture();
    }

    void lancerBattement() {
        if (battement) battement->cancel();
        battement = std::make_unique<asio::steady_timer>(io);
        battre(std::chrono::steady_clock::now() + std::chrono::milliseconds(150));
    }
    void battre(std::chrono::steady_clock::time_point quand) {
        auto* t = battement.get();
        t->expires_at(quand);
        std::weak_ptr<Coeur> faible = weak_from_this();
        t->async_wait([faible, t, quand](const std::error_code& ec) {
            auto c = faible.lock();
            if (ec || !c || c->battement.get() != t) return;
            c->unBattement();
            // Periods missed while the thread was busy are skipped, not fired in a burst.
            auto suivant = quand + std::chrono::milliseconds(150);
            while (suivant <= std::chrono::steady_clock::now()) suivant += std::chrono::milliseconds(150);
            c->battre(suivant);
        });
    }
    void unBattement() {
        if (!pret()) return;
        if (std::chrono::steady_clock::now() - derniereTrame <= std::chrono::milliseconds(140)) return;
        if (grilleLargeur <= 0 || enVol_ >= enVolMaxBattement) return;
        const auto [px, py] = pointeur(grilleLargeur, grilleHauteur);
        const auto l = enTeteF(grilleLargeur, grilleHauteur, 0, px, py);
        envoyer(std::vector<std::uint8_t>(l.begin(), l.end()));
    }

    void toutArreter() {
        generation += 1;
        garderCompteurs();
        if (moteur) moteur->arreter();
        moteur.reset();
        nommer("aucun");
        if (battement) battement->cancel();
        battement.reset();
        fermerLien();
        if (ecouteur) {
            std::error_code ec;
            ecouteur->close(ec);
        }
        ecouteur.reset();
        reveil.reset();
        repos = std::chrono::milliseconds(0);
        retirerPort(dossier);
        grilleLargeur = grilleHauteur = 0;
        portPublie = 0;
        enVol_ = 0;
        octetsEnVol_ = 0;
    }
};

Diffuseur::Diffuseur(FabriqueSource source, Saisie saisie, Pointeur pointeur) : coeur_(std::make_shared<Coeur>()) {
    coeur_->pointeurSource = std::move(pointeur);
    // Every engine's pictures pass through the mask, whichever way they are captured.
    coeur_->source = [source = std::move(source), m = coeur_->masque] { return sourceMasquee(source(), m); };
    coeur_->saisie = saisieMasquee(std::move(saisie), coeur_->masque);
    coeur_->fil = std::thread([c = coeur_.get()] { c->io.run(); });
}

Diffuseur::~Diffuseur() {
    arreter();
    coeur_->garde.reset();
    coeur_->io.stop();
    coeur_->fil.join();
    attendreCapteurs(std::chrono::milliseconds(300));
}

void Diffuseur::demarrer(const std::string& dossier, std::int64_t largeur, std::int64_t qualitePourCent,
                         const std::string& moteur) {
    arreter();
    coeur_->surLeFil([&] {
        coeur_->largeurCible = static_cast<int>(std::clamp<std::int64_t>(largeur, 640, 2560));
        coeur_->qualite = static_cast<double>(std::clamp<std::int64_t>(qualitePourCent, 20, 90)) / 100.0;
        coeur_->moteurDemande = moteur == "tuiles" ? "tuiles" : "h264";
        coeur_->dossier = dossier;
        coeur_->ecouter();
    });
}

std::uint16_t Diffuseur::port() const { return coeur_->portPublie; }

std::string Diffuseur::moteurActif() const {
    std::lock_guard v(coeur_->verrouMoteur);
    return coeur_->moteurNom;
}

void Diffuseur::arreter() {
    coeur_->nommer("aucun");
    coeur_->surLeFil([this] { coeur_->toutArreter(); });
}

void Diffuseur::masquer(bool sensible, std::uint64_t cle) { coeur_->masque->poser(sensible, cle); }

std::uint64_t Diffuseur::images() const {
    std::uint64_t n = 0;
    coeur_->surLeFil([&] { n = coeur_->imagesAnciennes + (coeur_->moteur ? coeur_->moteur->images() : 0); });
    return n;
}
std::uint64_t Diffuseur::octets() const {
    std::uint64_t n = 0;
    coeur_->surLeFil([&] { n = coeur_->octetsAnciens + (coeur_->moteur ? coeur_->moteur->octets() : 0); });
    return n;
}
double Diffuseur::msCapture() const {
    double ms = 0;
    coeur_->surLeFil([&] { ms = coeur_->moteur ? coeur_->moteur->msCapture() : coeur_->msCaptureDernier.load(); });
    return ms;
}

}  // namespace vimba::flux

namespace vimba {
std::unique_ptr<Diffusion> creerDiffuseur() {
    if (bureauCourant().affichage == Affichage::Wayland)
        return std::make_unique<flux::Diffuseur>(flux::creerCapteurWayland, flux::saisieWayland(), flux::pointeurWayland);
    return std::make_unique<flux::Diffuseur>(flux::creerCapteurX11, flux::saisieX11());
}
}  // namespace vimba
