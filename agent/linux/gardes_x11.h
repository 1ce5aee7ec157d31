#pragma once
// The two safety facts on an X11 desktop: the application in front, and whether the
// keyboard focus is a password field (asked through AT-SPI). Main thread only.
#include "agent/services.h"

typedef struct _AtspiAccessible AtspiAccessible;

namespace vimba::x11 {

class GardesX11 final : public Gardes {
public:
    std::optional<std::string> appDevant() override;
    std::optional<std::string> titreDevant() override;
    std::uint64_t cleDevant() override;
    // True unless the focused object can be found and is not a password field.
    bool champSecurise() override;
};

// The object holding the keyboard focus inside an application (a new reference), or null.
AtspiAccessible* objetFocalise(AtspiAccessible* application);

}  // namespace vimba::x11
