#include "agent/sensibles.h"

#include "agent/texte.h"

namespace vimba {

const std::vector<std::string>& applicationsInterdites() {
    static const std::vector<std::string> liste = {
        "Trousseau", "Keychain", "1Password", "Bitwarden", "Dashlane", "LastPass", "Proton Pass",
        "NordPass", "Enpass", "KeePass", "Desjardins", "Banque", "RBC", "BMO", "Scotia", "CIBC",
        "Tangerine", "Wealthsimple", "Questrade", "PayPal", "Coinbase", "Kraken", "Ledger", "Trezor",
        "Exodus", "Electrum"};
    return liste;
}

std::optional<std::string> entreeSensible(std::string_view nom, const std::vector<std::string>& interdites) {
    for (const auto& entree : interdites)
        if (texte::contientSansCasse(nom, entree)) return entree;
    return std::nullopt;
}

}  // namespace vimba
