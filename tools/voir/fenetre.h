#pragma once
// A plain X11 window showing the rebuilt picture and the pointer, for a person watching.
// Used on the viewer's only thread.
#include <memory>

#include "tools/voir/lecteur.h"

namespace vimba::voir {

class Fenetre {
public:
    virtual ~Fenetre() = default;
    // Shows the picture; false once the person closed the window.
    virtual bool montrer(const Tableau& t) = 0;
};

// nullptr without a display.
std::unique_ptr<Fenetre> ouvrirFenetre();

}  // namespace vimba::voir
