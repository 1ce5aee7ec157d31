#pragma once
// Substring search that ignores case and diacritics both ways ("reglages" finds
// "Réglages", "RÉGLAGES" finds "reglages"), with ICU. Any thread.
#include <string>
#include <string_view>

namespace vimba::lecture {

class Filtre {
public:
    explicit Filtre(std::string_view motif);
    bool trouveDans(std::string_view texte) const;
    // How the folded text holds the motif.
    enum class Accord { Egal, Debut, Dedans, Aucun };
    Accord accord(std::string_view texte) const;
    bool vide() const { return plie_.empty(); }

    // Decomposed, marks removed, case folded: the form both sides are compared in.
    static std::u16string plier(std::string_view utf8);

private:
    std::u16string plie_;
};

}  // namespace vimba::lecture
