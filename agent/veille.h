#pragma once
// Watches the request folder with inotify so that a poll tick can skip the listing when
// nothing changed, and a new request is taken as soon as it appears. Main thread only,
// but peutDormir(), which any thread may ask.
#include <glib.h>

#include <atomic>
#include <functional>
#include <string>

namespace vimba {

class VeilleDossier {
public:
    // auReveil runs on the main loop when a request-like entry appears.
    VeilleDossier(std::string dossier, std::function<void()> auReveil);
    VeilleDossier(const VeilleDossier&) = delete;
    VeilleDossier& operator=(const VeilleDossier&) = delete;
    ~VeilleDossier();

    void demarrer();
    void arreter();
    // True unless the folder is watched and nothing happened in it since marquerPropre().
    bool aChange();
    void marquerPropre() { sale_ = false; }
    void marquerSale() { sale_ = true; }
    // The folder is watched and nothing happened in it: a tick has nothing to do here.
    bool peutDormir() const { return fd_ >= 0 && surveillance_ >= 0 && !sale_; }

private:
    void lireEvenements();

    const std::string dossier_;
    std::function<void()> auReveil_;
    std::atomic<int> fd_{-1};
    std::atomic<int> surveillance_{-1};
    guint source_ = 0;
    std::atomic<bool> sale_{true};
};

}  // namespace vimba
