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

// The viewer's link seen by the engine core; the pointer is asked for the frame's width.
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
  std::pair<int, int> pointeur() const override { return lien_.pointeur(largeur_); }
  void trameEnvoyee(int largeur, int hauteur) override { lien_.trameEnvoyee(largeur, hauteur); }
  void fixerLargeur(int largeur) { largeur_ = largeur; }

 private:
  Lien& lien_;
  mutable std::atomic<bool> vu_{true};  // engines start when a viewer is ready
  std::atomic<int> largeur_{0};
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
    auto coeur = CoeurH264::creer(*sortie_, [lien](std::function<void()> t) { lien->poster(std::move(t)); });
    std::weak_ptr<CoeurH264> faible = coeur;
    // A frame already in delivery when the engine goes may still run: it keeps what it uses.
    auto pixels = [faible, lien, sortie = sortie_, duree = msCapture_](const PixelsNV12& p,
                                                                        const std::vector<Rect>& changes) {
      auto c = faible.lock();
      if (!c) return;
      const auto t0 = std::chrono::steady_clock::now();
      c->etat().octetsEnVol = lien->octetsEnVol();
      c->capturee(ImageNV12{p.largeur, p.hauteur, p.y, p.pasY, p.uv, p.pasUV}, changes.empty());
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      *duree = *duree * 0.9 + ms * 0.1;
    };
    // The core exists before the first picture can arrive; it starts encoding once started.
    if (!source->demarrer(contexte_.largeur, 60, nullptr, pixels)) return false;
    const auto [l, h] = source->taille();
    sortie_->fixerLargeur(l);
    if (l <= 0 || h <= 0 || !coeur->demarrer(l, h, contexte_.qualite)) {
      source->arreter();
      return false;
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

  void nouveauSpectateur() override {
    sortie_->pret();
    if (coeur_) coeur_->nouveauSpectateur();
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
