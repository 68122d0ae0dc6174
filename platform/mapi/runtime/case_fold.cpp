// Case folding and accent stripping for comparisons that ignore case or
// non-spacing marks, from ICU's Unicode data, so every script folds and
// every precomposed letter loses its marks, as the character database says.
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "utf.h"

namespace mapi {

namespace {

const icu::Normalizer2* Nfd() {
    static const icu::Normalizer2* nfd = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFDInstance(status);
        return U_SUCCESS(status) ? n : nullptr;
    }();
    return nfd;
}

// Appends cp with its marks removed: the canonical decomposition without
// its non-spacing marks when it has any, cp itself otherwise (a Hangul
// syllable stays whole; it has no marks to lose).
template <class Out>
void AppendWithoutMarks(char32_t cp, Out out) {
    if (IsNonSpacingMark(cp)) return;
    icu::UnicodeString parts;
    const icu::Normalizer2* nfd = Nfd();
    if (cp >= 0xC0 && nfd != nullptr && nfd->getDecomposition(static_cast<UChar32>(cp), parts)) {
        bool marks = false;
        for (int32_t i = 0; i < parts.length(); i = parts.moveIndex32(i, 1))
            marks |= IsNonSpacingMark(static_cast<char32_t>(parts.char32At(i)));
        if (marks) {
            for (int32_t i = 0; i < parts.length(); i = parts.moveIndex32(i, 1)) {
                auto part = static_cast<char32_t>(parts.char32At(i));
                if (!IsNonSpacingMark(part)) out(part);
            }
            return;
        }
    }
    out(cp);
}

}  // namespace

char32_t FoldCase(char32_t cp) {
    if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT));
}

bool IsNonSpacingMark(char32_t cp) {
    return cp >= 0x300 && u_charType(static_cast<UChar32>(cp)) == U_NON_SPACING_MARK;
}

char32_t BaseLetter(char32_t cp) {
    char32_t base = 0;
    int parts = 0;
    AppendWithoutMarks(cp, [&](char32_t part) {
        base = part;
        ++parts;
    });
    return parts == 1 ? base : cp;
}

std::u32string PrepareForCompare(std::u32string text, bool foldCase, bool dropMarks) {
    if (!foldCase && !dropMarks) return text;
    if (!dropMarks) {
        for (char32_t& cp : text) cp = FoldCase(cp);
        return text;
    }
    std::u32string out;
    out.reserve(text.size());
    for (char32_t cp : text)
        AppendWithoutMarks(cp,
                           [&](char32_t part) { out.push_back(foldCase ? FoldCase(part) : part); });
    return out;
}

}  // namespace mapi
