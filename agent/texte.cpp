#include "agent/texte.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace vimba::texte {

bool utf8Valide(std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const std::int32_t n = static_cast<std::int32_t>(s.size());
    if (s.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    for (std::int32_t i = 0; i < n;) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

namespace {
bool blanc(UChar32 c) { return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR; }
}  // namespace

std::string_view rogner(std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    std::int32_t debut = 0, fin = static_cast<std::int32_t>(s.size());
    while (debut < fin) {
        std::int32_t i = debut;
        UChar32 c;
        U8_NEXT(p, i, fin, c);
        if (c < 0 || !blanc(c)) break;
        debut = i;
    }
    while (fin > debut) {
        std::int32_t i = fin;
        UChar32 c;
        U8_PREV(p, debut, i, c);
        if (c < 0 || !blanc(c)) break;
        fin = i;
    }
    return s.substr(debut, fin - debut);
}

std::vector<std::string_view> couper(std::string_view s, char separateur, bool garderVides) {
    std::vector<std::string_view> morceaux;
    std::size_t debut = 0;
    for (;;) {
        const std::size_t pos = s.find(separateur, debut);
        const std::string_view m = s.substr(debut, pos == std::string_view::npos ? std::string_view::npos : pos - debut);
        if (garderVides || !m.empty()) morceaux.push_back(m);
        if (pos == std::string_view::npos) break;
        debut = pos + 1;
    }
    return morceaux;
}

std::string joindre(const std::vector<std::string_view>& morceaux, std::string_view lien) {
    std::string r;
    for (std::size_t i = 0; i < morceaux.size(); ++i) {
        if (i) r += lien;
        r += morceaux[i];
    }
    return r;
}

std::size_t compterCaracteres(std::string_view utf8) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    UErrorCode etat = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), etat));
    if (U_FAILURE(etat) || !it) return static_cast<std::size_t>(u.countChar32());
    it->setText(u);
    std::size_t n = 0;
    for (std::int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) ++n;
    return n;
}

std::string_view debut(std::string_view utf8, std::size_t n, bool& coupe) {
    coupe = false;
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    UErrorCode etat = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), etat));
    if (U_FAILURE(etat) || !it) return utf8;
    it->setText(u);
    std::int32_t fin = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t p = it->next();
        if (p == icu::BreakIterator::DONE) return utf8;
        fin = p;
    }
    if (it->next() == icu::BreakIterator::DONE) return utf8;
    coupe = true;
    std::string prefixe;
    u.tempSubString(0, fin).toUTF8String(prefixe);
    return utf8.substr(0, prefixe.size());
}

bool contientSansCasse(std::string_view texte, std::string_view fragment) {
    auto plie = [](std::string_view s) {
        icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<std::int32_t>(s.size())));
        return u.foldCase();
    };
    return plie(texte).indexOf(plie(fragment)) >= 0;
}

}  // namespace vimba::texte
