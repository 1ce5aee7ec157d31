#pragma once
// Pointer and keyboard synthesis through XTest on the X display. Every event is flushed
// as soon as it is made; the fixed pauses hold the calling (main) thread.
#include <X11/Xlib.h>

#include <chrono>

#include "agent/services.h"

namespace vimba::x11 {

class SaisieX11 final : public Saisie {
public:
    SaisieX11();
    ~SaisieX11() override;
    SaisieX11(const SaisieX11&) = delete;
    SaisieX11& operator=(const SaisieX11&) = delete;

    void cliquer(double x, double y, bool double_, bool droit) override;
    void bouger(double x, double y) override;
    void defiler(double x, double y, std::int32_t lignes) override;
    void ecrire(const std::string& texte, const std::function<bool()>& avant) override;
    bool frapper(const std::string& combinaison) override;

    // Wheel clicks posted for one "defiler" at most: a larger amount would hold the
    // agent for minutes and no view needs it.
    static constexpr std::int64_t cransMaximum = 1000;

private:
    void deplacer(double x, double y);
    void bouton(unsigned numero, bool enfonce);
    void cle(KeyCode code, bool enfonce);
    void laisserDigerer();
    void attendreClicPasse();

    Display* affichage_;
    bool xtest_ = false;
    // When we last changed the keyboard mapping (typing borrows keycodes).
    std::chrono::steady_clock::time_point derniereCarte_{};
};

}  // namespace vimba::x11
