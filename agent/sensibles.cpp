#include "agent/sensibles.h"

#include <unicode/normalizer2.h>
#include <unicode/uspoof.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>
#include <mutex>

namespace vimba {

namespace {

struct FermerSpoof {
    void operator()(USpoofChecker* s) const { uspoof_close(s); }
};

// NFKC, upper case (capitals are what look-alikes of other scripts share with Latin:
// Cyrillic В is B, and I and l stay apart from i), the confusable skeleton, then NFKC
// with case folding, which also drops invisible characters. Marks stay: "Bânque" is not "Banque".
std::string squelette(std::string_view texte) {
    static std::mutex verrou;
    std::lock_guard garde(verrou);
    UErrorCode e = U_ZERO_ERROR;
    static const icu::Normalizer2* const nfkc = icu::Normalizer2::getNFKCInstance(e);
    static const icu::Normalizer2* const pli = icu::Normalizer2::getNFKCCasefoldInstance(e);
    static const std::unique_ptr<USpoofChecker, FermerSpoof> verif([] {
        UErrorCode err = U_ZERO_ERROR;
        USpoofChecker* s = uspoof_open(&err);
        return U_SUCCESS(err) ? s : nullptr;
    }());
    e = U_ZERO_ERROR;
    if (!nfkc || !pli || !verif) return std::string(texte);
    const icu::UnicodeString brut = icu::UnicodeString::fromUTF8(icu::StringPiece(texte.data(), static_cast<int32_t>(texte.size())));
    icu::UnicodeString haut = nfkc->normalize(brut, e);
    if (U_FAILURE(e)) return std::string(texte);
    haut.toUpper(icu::Locale::getRoot());
    icu::UnicodeString sq;
    uspoof_getSkeletonUnicodeString(verif.get(), 0, haut, sq, &e);
    if (U_FAILURE(e)) return std::string(texte);
    icu::UnicodeString fin = pli->normalize(sq, e);
    if (U_FAILURE(e)) return std::string(texte);
    std::string r;
    fin.toUTF8String(r);
    return r;
}

}  // namespace

const std::vector<std::string>& applicationsInterdites() {
    static const std::vector<std::string> liste = {
        "Trousseau", "Keychain", "1Password", "Bitwarden", "Dashlane", "LastPass", "Proton Pass",
        "NordPass", "Enpass", "KeePass", "Desjardins", "Banque", "RBC", "BMO", "Scotia", "CIBC",
        "Tangerine", "Wealthsimple", "Questrade", "PayPal", "Coinbase", "Kraken", "Ledger", "Trezor",
        "Exodus", "Electrum",
        // The Linux desktops' own keyrings and password managers.
        "Mots de passe et clés", "Passwords and Keys", "Seahorse", "gnome-keyring", "KWallet",
        "Portefeuille KDE", "KeePassXC", "KeeWeb", "password-store", "QtPass", "gopass", "pass show",
        "pass edit", "pass insert", "pass generate", "pass otp"};
    return liste;
}

std::optional<std::string> entreeSensible(std::string_view nom, const std::vector<std::string>& interdites) {
    if (nom.empty()) return std::nullopt;
    static std::mutex verrou;
    static std::map<std::string, std::string, std::less<>> entrees;
    const std::string n = squelette(nom);
    for (const auto& entree : interdites) {
        std::string e;
        {
            std::lock_guard garde(verrou);
            auto it = entrees.find(entree);
            if (it == entrees.end()) it = entrees.emplace(entree, squelette(entree)).first;
            e = it->second;
        }
        if (!e.empty() && n.find(e) != std::string::npos) return entree;
    }
    return std::nullopt;
}

}  // namespace vimba
