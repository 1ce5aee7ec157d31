#include "agent/linux/piege_x11.h"

#include <mutex>
#include <vector>

namespace vimba::x11 {

namespace {

// The open traps, innermost last. The handler stays ours while any is open; the one found
// before (Xlib's, or the toolkit's) gets the errors no trap claims and is put back after.
struct Pieges {
    std::mutex verrou;
    std::vector<PiegeX*> ouverts;
    XErrorHandler precedent = nullptr;
};
// Never destroyed: a detached capture thread may still open a trap while the process exits.
Pieges& pieges() {
    static Pieges* p = new Pieges;
    return *p;
}

}  // namespace

int PiegeX::router(Display* d, XErrorEvent* e) {
    XErrorHandler autre = nullptr;
    {
        auto& p = pieges();
        std::lock_guard garde(p.verrou);
        for (auto i = p.ouverts.rbegin(); i != p.ouverts.rend(); ++i) {
            // Serials wrap: the distance from the trap's first request tells.
            if ((*i)->affichage_ == d && static_cast<long>(e->serial - (*i)->debut_) >= 0) {
                (*i)->erreur_ = e->error_code;
                return 0;
            }
        }
        autre = p.precedent;
    }
    return autre ? autre(d, e) : 0;
}

PiegeX::PiegeX(Display* affichage) : affichage_(affichage) {
    // Errors of earlier requests belong to whoever made them.
    if (affichage_) {
        XSync(affichage_, False);
        debut_ = NextRequest(affichage_);
    }
    auto& p = pieges();
    std::lock_guard garde(p.verrou);
    if (p.ouverts.empty()) p.precedent = XSetErrorHandler(router);
    p.ouverts.push_back(this);
}

PiegeX::~PiegeX() {
    if (affichage_) XSync(affichage_, False);
    auto& p = pieges();
    std::lock_guard garde(p.verrou);
    std::erase(p.ouverts, this);
    if (p.ouverts.empty()) XSetErrorHandler(p.precedent);
}

bool PiegeX::sain() {
    if (affichage_) XSync(affichage_, False);
    std::lock_guard garde(pieges().verrou);
    return erreur_ == 0;
}

}  // namespace vimba::x11
