// The "h264" engine of the stream server: the capture source's NV12 pictures through the
// engine core, and the 2 s bitrate step posted to the server's thread.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "stream/h264/coeur_h264.h"
#include "stream/moteur.h"

namespace vimba::flux {

namespace {

// The viewer's link seen by the engine core; the pointer is asked for the frame's size.
// The link is only asked on the server's thread; the capture thread reads the last answer,
// so after a viewer leaves at most the frames already encoded are discarded.
class SortieLien : public SortieVideo {
 public:
  explicit SortieLien(Lien& lien) : lien_(lien) {}
  bool pret() const override {
    const bool p = lien_.pret();
    vu_ = p;
    return p;
  }
  bool pretPourCapture() const override { return vu_; }
  void envoyer(std::vector<std::uint8_t> message) override { lien_.envoyer(std::move(message)); }
  std::pair<int, int> pointeur() const override { return lien_.pointeur(largeur_, hauteur_); }
  void trameEnvoyee(int largeur, int hauteur) override { lien_.trameEnvoyee(largeur, hauteur); }
  void fixerTaille(int largeur, int hauteur) {
    largeur_ = largeur;
    hauteur_ = hauteur;
  }

 private:
  Lien& lien_;
  mutable std::atomic<bool> vu_{true};  // engines start when a viewer is ready
  std::atomic<int> largeur_{0}, hauteur_{0};
};

// A thread that posts one task to the server's thread every period until stopped.
class Minuterie {
 public:
  Minuterie() = default;
  Minuterie(const Minuterie&) = delete;
  Minuterie& operator=(const Minuterie&) = delete;
  ~Minuterie() { arreter(); }

  void lancer(std::chrono::milliseconds periode, std::function<void()> pas) {
    arreter();
    fin_ = false;
    fil_ = std::thread([this, periode, pas = std::move(pas)] {
      std::unique_lock<std::mutex> verrou(verrou_);
      while (!cv_.wait_for(verrou, periode, [this] { return fin_; })) pas();
    });
  }
  void arreter() {
    {
      std::lock_guard<std::mutex> garde(verrou_);
      fin_ = true;
    }
    cv_.notify_all();
    if (fil_.joinable()) fil_.join();
  }

 private:
  std::mutex verrou_;
  std::condition_variable cv_;
  bool fin_ = false;
  std::thread fil_;
};

// The picture delivered before the encoder could take it, copied.
struct EnAttente {
  std::mutex verrou;
  bool encodeurPret = false;
  std::vector<std::uint8_t> y, uv;
  ImageNV12 image;
  void garder(const PixelsNV12& p) {
    if (!p.y || !p.uv || p.largeur <= 0 || p.hauteur <= 0) return;
    y.assign(p.y, p.y + static_cast<std::size_t>(p.pasY) * p.hauteur);
    uv.assign(p.uv, p.uv + static_cast<std::size_t>(p.pasUV) * ((p.hauteur + 1) / 2));
    image = ImageNV12{p.largeur, p.hauteur, y.data(), p.pasY, uv.data(), p.pasUV};
  }
};

// Driven on the server's thread; the capture source calls into the core on its own.
class MoteurH264 : public Moteur {
 public:
  explicit MoteurH264(const ContexteMoteur& contexte)
      : contexte_(contexte), sortie_(std::make_shared<SortieLien>(*contexte.lien)) {}
  ~MoteurH264() override { arreter(); }

  std::string nom() const override { return "h264"; }

  bool demarrer() override {
    arreter();
    if (!contexte_.source) return false;
    auto source = contexte_.source();
    if (!source) return false;
    Lien* lien = contexte_.lien;
    auto coeur = CoeurH264::creer(sortie_, [lien](std::function<void()> t) { lien->poster(std::move(t)); });
    std::weak_ptr<CoeurH264> faible = coeur;
    // The encoder needs the size the source reports once started, and a source may deliver
    // its first picture, then nothing while the screen is still: a picture that comes
    // before the encoder runs is kept and encoded as soon as it does.
    auto attente = std::make_shared<EnAttente>();
    // A frame already in delivery when the engine goes may still run: it keeps what it uses.
    auto pixels = [faible, lien, attente, duree = msCapture_](const PixelsNV12& p, const std::vector<Rect>& changes) {
      auto c = faible.lock();
      if (!c) return;
      {
        std::lock_guard<std::mutex> garde(attente->verrou);
        if (!attente->encodeurPret) {
          attente->garder(p);
          return;
        }
      }
      const auto t0 = std::chrono::steady_clock::now();
      c->etat().octetsEnVol = lien->octetsEnVol();
      c->capturee(ImageNV12{p.largeur, p.hauteur, p.y, p.pasY, p.uv, p.pasUV}, changes.empty());
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      *duree = *duree * 0.9 + ms * 0.1;
    };
    if (!source->demarrer(contexte_.largeur, 60, nullptr, pixels)) return false;
    const auto [l, h] = source->taille();
    sortie_->fixerTaille(l, h);
    if (l <= 0 || h <= 0 || !coeur->demarrer(l, h, contexte_.qualite)) {
      source->arreter();
      return false;
    }
    {
      // Under the lock, so no newer picture can be encoded before the kept one.
      std::lock_guard<std::mutex> garde(attente->verrou);
      attente->encodeurPret = true;
      if (attente->image.largeur > 0) coeur->capturee(attente->image, false);
      attente->y.clear();
      attente->uv.clear();
    }
    source_ = std::move(source);
    coeur_ = std::move(coeur);
    minuterie_.lancer(std::chrono::milliseconds(2000), [faible, lien, sortie = sortie_] {
      lien->poster([faible, sortie] {
        sortie->pret();  // a viewer that left stops the encoding even with nothing sent
        if (auto c = faible.lock()) c->mesurer();
      });
    });
    return true;
  }

  void arreter() override {
    minuterie_.arreter();
    if (source_) source_->arreter();
    if (coeur_) coeur_->arreter();
    source_.reset();  // the core stays, stopped, so its counters can still be read
  }

  bool avecBattement() const override { return true; }
  std::uint64_t images() const override { return coeur_ ? coeur_->images() : 0; }
  std::uint64_t octets() const override { return coeur_ ? coeur_->octets() : 0; }
  double msCapture() const override { return *msCapture_; }

 private:
  ContexteMoteur contexte_;
  std::shared_ptr<SortieLien> sortie_;
  std::unique_ptr<SourceImages> source_;
  std::shared_ptr<CoeurH264> coeur_;
  Minuterie minuterie_;
  std::shared_ptr<std::atomic<double>> msCapture_ = std::make_shared<std::atomic<double>>(0.0);
};

}  // namespace

std::unique_ptr<Moteur> creerMoteurH264(const ContexteMoteur& contexte) {
  if (!contexte.lien) return nullptr;
  return std::make_unique<MoteurH264>(contexte);
}

}  // namespace vimba::flux
