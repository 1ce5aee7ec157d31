#include "agent/linux/piege_x11.h"

namespace vimba::x11 {

namespace {
// The error code of the innermost trap; Xlib's handler is process-wide.
int derniereErreur = 0;

int noter(Display*, XErrorEvent* e) {
    derniereErreur = e->error_code;
    return 0;
}
}  // namespace

PiegeX::PiegeX(Display* affichage) : affichage_(affichage), erreurPrecedente_(derniereErreur) {
    // Errors of earlier requests belong to whoever made them.
    if (affichage_) XSync(affichage_, False);
    derniereErreur = 0;
    precedent_ = XSetErrorHandler(noter);
}

PiegeX::~PiegeX() {
    if (affichage_) XSync(affichage_, False);
    XSetErrorHandler(precedent_);
    derniereErreur = erreurPrecedente_;
}

bool PiegeX::sain() {
    if (affichage_) XSync(affichage_, False);
    return derniereErreur == 0;
}

}  // namespace vimba::x11
