// Case folding and accent stripping for comparisons that ignore case or
// non-spacing marks. Tables cover the scripts mail in this program's users'
// languages is written in (Latin, Greek, Cyrillic and their neighbours);
// code points outside them compare as they are.
#include <algorithm>
#include <iterator>

#include "utf.h"

namespace mapi {

namespace {

enum class Fold { Delta, EvenUpper, OddUpper };

// Ranges of uppercase letters and how each folds. Delta: cp + delta.
// EvenUpper/OddUpper: alternating upper/lower pairs, the upper one on even
// (odd) code points, folding to cp + 1.
struct FoldRange {
    char32_t first;
    char32_t last;
    Fold kind;
    int delta;
};

constexpr FoldRange kFoldRanges[] = {
    {0x0041, 0x005A, Fold::Delta, 32},    {0x00C0, 0x00D6, Fold::Delta, 32},
    {0x00D8, 0x00DE, Fold::Delta, 32},    {0x0100, 0x012F, Fold::EvenUpper, 1},
    {0x0132, 0x0137, Fold::EvenUpper, 1}, {0x0139, 0x0148, Fold::OddUpper, 1},
    {0x014A, 0x0177, Fold::EvenUpper, 1}, {0x0179, 0x017E, Fold::OddUpper, 1},
    {0x01CD, 0x01DC, Fold::OddUpper, 1},  {0x01DE, 0x01EF, Fold::EvenUpper, 1},
    {0x01F8, 0x021F, Fold::EvenUpper, 1}, {0x0222, 0x0233, Fold::EvenUpper, 1},
    {0x0246, 0x024F, Fold::EvenUpper, 1}, {0x0370, 0x0373, Fold::EvenUpper, 1},
    {0x0388, 0x038A, Fold::Delta, 37},    {0x038E, 0x038F, Fold::Delta, 63},
    {0x0391, 0x03A1, Fold::Delta, 32},    {0x03A3, 0x03AB, Fold::Delta, 32},
    {0x03D8, 0x03EF, Fold::EvenUpper, 1}, {0x03FD, 0x03FF, Fold::Delta, -130},
    {0x0400, 0x040F, Fold::Delta, 80},    {0x0410, 0x042F, Fold::Delta, 32},
    {0x0460, 0x0481, Fold::EvenUpper, 1}, {0x048A, 0x04BF, Fold::EvenUpper, 1},
    {0x04C1, 0x04CE, Fold::OddUpper, 1},  {0x04D0, 0x052F, Fold::EvenUpper, 1},
    {0x0531, 0x0556, Fold::Delta, 48},    {0x10A0, 0x10C5, Fold::Delta, 0x2D00 - 0x10A0},
    {0x1E00, 0x1E95, Fold::EvenUpper, 1}, {0x1EA0, 0x1EFF, Fold::EvenUpper, 1},
    {0x2160, 0x216F, Fold::Delta, 16},    {0x24B6, 0x24CF, Fold::Delta, 26},
    {0xFF21, 0xFF3A, Fold::Delta, 32},    {0x10400, 0x10427, Fold::Delta, 40},
};

struct Pair {
    char32_t from;
    char32_t to;
};

// Single foldings that follow no range rule; sorted by from.
constexpr Pair kFoldSingles[] = {
    {0x00B5, 0x03BC}, {0x0178, 0x00FF}, {0x017F, 0x0073}, {0x0181, 0x0253}, {0x0182, 0x0183},
    {0x0184, 0x0185}, {0x0186, 0x0254}, {0x0187, 0x0188}, {0x0189, 0x0256}, {0x018A, 0x0257},
    {0x018B, 0x018C}, {0x018E, 0x01DD}, {0x018F, 0x0259}, {0x0190, 0x025B}, {0x0191, 0x0192},
    {0x0193, 0x0260}, {0x0194, 0x0263}, {0x0196, 0x0269}, {0x0197, 0x0268}, {0x0198, 0x0199},
    {0x019C, 0x026F}, {0x019D, 0x0272}, {0x019F, 0x0275}, {0x01A0, 0x01A1}, {0x01A2, 0x01A3},
    {0x01A4, 0x01A5}, {0x01A7, 0x01A8}, {0x01A9, 0x0283}, {0x01AC, 0x01AD}, {0x01AE, 0x0288},
    {0x01AF, 0x01B0}, {0x01B1, 0x028A}, {0x01B2, 0x028B}, {0x01B3, 0x01B4}, {0x01B5, 0x01B6},
    {0x01B7, 0x0292}, {0x01B8, 0x01B9}, {0x01BC, 0x01BD}, {0x01C4, 0x01C6}, {0x01C5, 0x01C6},
    {0x01C7, 0x01C9}, {0x01C8, 0x01C9}, {0x01CA, 0x01CC}, {0x01CB, 0x01CC}, {0x01F1, 0x01F3},
    {0x01F2, 0x01F3}, {0x01F4, 0x01F5}, {0x01F6, 0x0195}, {0x01F7, 0x01BF}, {0x0220, 0x019E},
    {0x023A, 0x2C65}, {0x023B, 0x023C}, {0x023D, 0x019A}, {0x023E, 0x2C66}, {0x0241, 0x0242},
    {0x0243, 0x0180}, {0x0244, 0x0289}, {0x0245, 0x028C}, {0x0345, 0x03B9}, {0x0376, 0x0377},
    {0x037F, 0x03F3}, {0x0386, 0x03AC}, {0x038C, 0x03CC}, {0x03C2, 0x03C3}, {0x03CF, 0x03D7},
    {0x03D0, 0x03B2}, {0x03D1, 0x03B8}, {0x03D5, 0x03C6}, {0x03D6, 0x03C0}, {0x03F0, 0x03BA},
    {0x03F1, 0x03C1}, {0x03F4, 0x03B8}, {0x03F5, 0x03B5}, {0x03F7, 0x03F8}, {0x03F9, 0x03F2},
    {0x03FA, 0x03FB}, {0x04C0, 0x04CF}, {0x1E9B, 0x1E61}, {0x1E9E, 0x00DF}, {0x2126, 0x03C9},
    {0x212A, 0x006B}, {0x212B, 0x00E5},
};

const Pair* FindPair(const Pair* begin, const Pair* end, char32_t cp) {
    const Pair* it =
        std::lower_bound(begin, end, cp, [](const Pair& p, char32_t c) { return p.from < c; });
    return (it != end && it->from == cp) ? it : nullptr;
}

// Precomposed letters in alternating upper/lower pairs that all decompose
// to one base letter per pair; letters[i] is the uppercase base of pair i.
struct BaseRange {
    char32_t first;
    char32_t last;
    const char* letters;
};

constexpr BaseRange kBaseRanges[] = {
    {0x0100, 0x012F, "AAACCCCD.EEEEEGGGGH.IIII"},
    {0x0134, 0x0137, "JK"},
    {0x01CD, 0x01DC, "AIOUUUUU"},
    {0x01DE, 0x01E1, "AA"},
    {0x01E6, 0x01ED, "GKOO"},
    {0x01F4, 0x01F5, "G"},
    {0x01F8, 0x01FB, "NA"},
    {0x0200, 0x021B, "AAEEIIOORRUUST"},
    {0x021E, 0x021F, "H"},
    {0x0226, 0x0233, "AEOOOOY"},
    {0x1E00, 0x1E95, "ABBBCDDDDDEEEEEFGHHHHHIIKKKLLLLMMMNNNNOOOOPPRRRRSSSSSTTTTUUUUUVVWWWWWXXYZZZ"},
    {0x1EA0, 0x1EF9, "AAAAAAAAAAAAEEEEEEEEIIOOOOOOOOOOOOUUUUUUUYYYY"},
};

// Latin-1 letters U+00C0..U+00FF and Latin Extended-A U+0138..U+017F
// (where pairs do not line up); '.' means no decomposition.
constexpr char kLatin1Base[] = "AAAAAA.CEEEEIIII.NOOOOO..UUUUY..aaaaaa.ceeeeiiii.nooooo..uuuuy.y";
constexpr char kLatinExtABase[] =
    ".LlLlLl....NnNnNn...OoOoOo..RrRrRrSsSsSsSsTtTt..UuUuUuUuUuUuWwYyYZzZzZz.";

static_assert(sizeof(kLatin1Base) == 0x40 + 1, "one entry per code point");
static_assert(sizeof(kLatinExtABase) == 0x48 + 1, "one entry per code point");

// Letters outside the tables above, among them Greek and Cyrillic letters
// with tonos, dialytika, breve or diaeresis; sorted by from.
constexpr Pair kBaseSingles[] = {
    {0x0130, 0x0049}, {0x01F0, 0x006A}, {0x01FC, 0x00C6}, {0x01FD, 0x00E6}, {0x01FE, 0x00D8},
    {0x01FF, 0x00F8}, {0x0386, 0x0391}, {0x0388, 0x0395}, {0x0389, 0x0397}, {0x038A, 0x0399},
    {0x038C, 0x039F}, {0x038E, 0x03A5}, {0x038F, 0x03A9}, {0x0390, 0x03B9}, {0x03AA, 0x0399},
    {0x03AB, 0x03A5}, {0x03AC, 0x03B1}, {0x03AD, 0x03B5}, {0x03AE, 0x03B7}, {0x03AF, 0x03B9},
    {0x03B0, 0x03C5}, {0x03CA, 0x03B9}, {0x03CB, 0x03C5}, {0x03CC, 0x03BF}, {0x03CD, 0x03C5},
    {0x03CE, 0x03C9}, {0x0400, 0x0415}, {0x0401, 0x0415}, {0x0403, 0x0413}, {0x0407, 0x0406},
    {0x040C, 0x041A}, {0x040D, 0x0418}, {0x040E, 0x0423}, {0x0419, 0x0418}, {0x0439, 0x0438},
    {0x0450, 0x0435}, {0x0451, 0x0435}, {0x0453, 0x0433}, {0x0457, 0x0456}, {0x045C, 0x043A},
    {0x045D, 0x0438}, {0x045E, 0x0443}, {0x1E96, 0x0068}, {0x1E97, 0x0074}, {0x1E98, 0x0077},
    {0x1E99, 0x0079},
};

constexpr bool BaseRangesConsistent() {
    for (const BaseRange& r : kBaseRanges) {
        size_t n = 0;
        while (r.letters[n] != 0) ++n;
        if (n * 2 != r.last - r.first + 1) return false;
    }
    return true;
}
static_assert(BaseRangesConsistent(), "one letter per pair of code points");

char32_t PairBase(const BaseRange& r, char32_t cp) {
    const char32_t offset = cp - r.first;
    const char upper = r.letters[offset / 2];
    if (upper == '.') return cp;
    return (offset % 2 == 0) ? char32_t(upper) : char32_t(upper - 'A' + 'a');
}

}  // namespace

char32_t FoldCase(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    if (const Pair* p = FindPair(std::begin(kFoldSingles), std::end(kFoldSingles), cp))
        return p->to;
    for (const FoldRange& r : kFoldRanges) {
        if (cp < r.first || cp > r.last) continue;
        switch (r.kind) {
            case Fold::Delta:
                return static_cast<char32_t>(static_cast<int>(cp) + r.delta);
            case Fold::EvenUpper:
                return (cp % 2 == 0) ? cp + 1 : cp;
            case Fold::OddUpper:
                return (cp % 2 == 1) ? cp + 1 : cp;
        }
    }
    return cp;
}

bool IsNonSpacingMark(char32_t cp) {
    return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x0483 && cp <= 0x0489) ||
           (cp >= 0x0591 && cp <= 0x05BD) || (cp >= 0x0610 && cp <= 0x061A) ||
           (cp >= 0x064B && cp <= 0x065F) || (cp >= 0x1AB0 && cp <= 0x1AFF) ||
           (cp >= 0x1DC0 && cp <= 0x1DFF) || (cp >= 0x20D0 && cp <= 0x20FF) ||
           (cp >= 0xFE20 && cp <= 0xFE2F);
}

char32_t BaseLetter(char32_t cp) {
    if (cp < 0xC0) return cp;
    if (cp <= 0xFF) {
        const char c = kLatin1Base[cp - 0xC0];
        return c == '.' ? cp : char32_t(c);
    }
    if (cp >= 0x0138 && cp <= 0x017F) {
        const char c = kLatinExtABase[cp - 0x0138];
        return c == '.' ? cp : char32_t(c);
    }
    if (const Pair* p = FindPair(std::begin(kBaseSingles), std::end(kBaseSingles), cp))
        return p->to;
    for (const BaseRange& r : kBaseRanges)
        if (cp >= r.first && cp <= r.last) return PairBase(r, cp);
    return cp;
}

std::u32string PrepareForCompare(std::u32string text, bool foldCase, bool dropMarks) {
    if (!foldCase && !dropMarks) return text;
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (dropMarks) {
            if (IsNonSpacingMark(cp)) continue;
            cp = BaseLetter(cp);
        }
        if (foldCase) cp = FoldCase(cp);
        text[out++] = cp;
    }
    text.resize(out);
    return text;
}

}  // namespace mapi
