#include "reading/filtre.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace vimba::lecture {

std::u16string Filtre::plier(std::string_view utf8) {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(err);
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    // Fold first: some folds (ß, ligatures) expand into letters that decompose further.
    s.foldCase();
    icu::UnicodeString d = U_SUCCESS(err) ? nfd->normalize(s, err) : s;
    if (U_FAILURE(err)) d = s;
    std::u16string r;
    r.reserve(static_cast<std::size_t>(d.length()));
    for (int32_t i = 0; i < d.length();) {
        const UChar32 c = d.char32At(i);
        const int32_t n = U16_LENGTH(c);
        if (u_charType(c) != U_NON_SPACING_MARK) r.append(d.getBuffer() + i, static_cast<std::size_t>(n));
        i += n;
    }
    return r;
}

Filtre::Filtre(std::string_view motif) : plie_(plier(motif)) {}

bool Filtre::trouveDans(std::string_view texte) const {
    if (plie_.empty()) return true;
    return plier(texte).find(plie_) != std::u16string::npos;
}

Filtre::Accord Filtre::accord(std::string_view texte) const {
    const std::u16string t = plier(texte);
    if (t == plie_) return Accord::Egal;
    if (t.starts_with(plie_)) return Accord::Debut;
    return t.find(plie_) != std::u16string::npos ? Accord::Dedans : Accord::Aucun;
}

}  // namespace vimba::lecture
