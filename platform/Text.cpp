// UTF-8 / UTF-16 conversion and case folding for names.
//
// Decoding follows the Unicode recommendation for ill-formed UTF-8: every
// maximal prefix of a well-formed sequence that cannot be completed becomes
// one U+FFFD, so a truncated three-byte sequence yields one replacement and
// an overlong or surrogate encoding yields one per byte. Overlong forms,
// encoded surrogates (ED A0..BF) and values above U+10FFFF are ill-formed.
#include "platform/Text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace velk::platform {

namespace {

constexpr char16_t ReplacementCharacter = 0xFFFD;

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// One decoded character: its code point (U+FFFD for an ill-formed run) and
// the number of input bytes it took.
struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

Decoded decodeUtf8(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t need = 0;
    char32_t value = 0;
    // Allowed range of the second byte; it is narrower than 80..BF for the
    // leads whose short forms would be overlong, surrogates or too large.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {ReplacementCharacter, 1};
    }
    std::size_t length = 1;
    for (std::size_t i = 0; i < need; ++i) {
        if (pos + length >= text.size()) {
            return {ReplacementCharacter, length};
        }
        const auto byte = static_cast<unsigned char>(text[pos + length]);
        const bool inRange = i == 0 ? (byte >= low && byte <= high) : isContinuation(byte);
        if (!inRange) {
            return {ReplacementCharacter, length};
        }
        value = (value << 6) | (byte & 0x3F);
        ++length;
    }
    return {value, length};
}

std::size_t utf16Units(char32_t codePoint) { return codePoint >= 0x10000 ? 2 : 1; }

void appendUtf16(std::u16string& out, char32_t codePoint) {
    if (codePoint >= 0x10000) {
        const char32_t v = codePoint - 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(codePoint));
    }
}

// One UTF-16 character: its code point ('?' stands for an unpaired
// surrogate, which has no UTF-8 form) and the number of units it took.
struct DecodedUnit {
    char32_t codePoint;
    std::size_t length;
};

DecodedUnit decodeUtf16(std::u16string_view text, std::size_t pos) {
    const char16_t unit = text[pos];
    if (isHighSurrogate(unit) && pos + 1 < text.size() && isLowSurrogate(text[pos + 1])) {
        const char32_t v = 0x10000 + ((char32_t(unit) - 0xD800) << 10) +
                           (char32_t(text[pos + 1]) - 0xDC00);
        return {v, 2};
    }
    if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
        return {U'?', 1};
    }
    return {unit, 1};
}

std::size_t utf8Bytes(char32_t codePoint) {
    if (codePoint < 0x80) return 1;
    if (codePoint < 0x800) return 2;
    if (codePoint < 0x10000) return 3;
    return 4;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    auto put = [&out](char32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (codePoint < 0x80) {
        put(codePoint);
    } else if (codePoint < 0x800) {
        put(0xC0 | (codePoint >> 6));
        put(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        put(0xE0 | (codePoint >> 12));
        put(0x80 | ((codePoint >> 6) & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    } else {
        put(0xF0 | (codePoint >> 18));
        put(0x80 | ((codePoint >> 12) & 0x3F));
        put(0x80 | ((codePoint >> 6) & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    }
}

// Upper-to-lower case runs: every stride-th unit from first to last maps to
// itself plus delta. These are the simple (one unit to one unit) lower-case
// mappings of Unicode for Basic Latin, Latin-1, Latin Extended-A/B, Greek,
// Cyrillic (with the Supplement) and Latin Extended Additional. Title-case
// digraphs (U+01C5 ...) fold to their lower-case form as well.
struct CaseRun {
    char16_t first;
    char16_t last;
    std::uint8_t stride;
    std::int16_t delta;
};

constexpr std::array<CaseRun, 89> LowerCaseRuns{{
    {0x0041, 0x005A, 1, 32},      // A..Z
    {0x00C0, 0x00D6, 1, 32},      // À..Ö
    {0x00D8, 0x00DE, 1, 32},      // Ø..Þ (× in between has no case)
    {0x0100, 0x012E, 2, 1},       // Ā..Į
    {0x0130, 0x0130, 1, -199},    // İ -> i
    {0x0132, 0x0136, 2, 1},       // Ĳ..Ķ
    {0x0139, 0x0147, 2, 1},       // Ĺ..Ň
    {0x014A, 0x0176, 2, 1},       // Ŋ..Ŷ
    {0x0178, 0x0178, 1, -121},    // Ÿ -> ÿ
    {0x0179, 0x017D, 2, 1},       // Ź..Ž
    {0x0181, 0x0181, 1, 210},     // Ɓ
    {0x0182, 0x0184, 2, 1},       // Ƃ..Ƅ
    {0x0186, 0x0186, 1, 206},     // Ɔ
    {0x0187, 0x0187, 1, 1},       // Ƈ
    {0x0189, 0x018A, 1, 205},     // Ɖ..Ɗ
    {0x018B, 0x018B, 1, 1},       // Ƌ
    {0x018E, 0x018E, 1, 79},      // Ǝ
    {0x018F, 0x018F, 1, 202},     // Ə
    {0x0190, 0x0190, 1, 203},     // Ɛ
    {0x0191, 0x0191, 1, 1},       // Ƒ
    {0x0193, 0x0193, 1, 205},     // Ɠ
    {0x0194, 0x0194, 1, 207},     // Ɣ
    {0x0196, 0x0196, 1, 211},     // Ɩ
    {0x0197, 0x0197, 1, 209},     // Ɨ
    {0x0198, 0x0198, 1, 1},       // Ƙ
    {0x019C, 0x019C, 1, 211},     // Ɯ
    {0x019D, 0x019D, 1, 213},     // Ɲ
    {0x019F, 0x019F, 1, 214},     // Ɵ
    {0x01A0, 0x01A4, 2, 1},       // Ơ..Ƥ
    {0x01A6, 0x01A6, 1, 218},     // Ʀ
    {0x01A7, 0x01A7, 1, 1},       // Ƨ
    {0x01A9, 0x01A9, 1, 218},     // Ʃ
    {0x01AC, 0x01AC, 1, 1},       // Ƭ
    {0x01AE, 0x01AE, 1, 218},     // Ʈ
    {0x01AF, 0x01AF, 1, 1},       // Ư
    {0x01B1, 0x01B2, 1, 217},     // Ʊ..Ʋ
    {0x01B3, 0x01B5, 2, 1},       // Ƴ..Ƶ
    {0x01B7, 0x01B7, 1, 219},     // Ʒ
    {0x01B8, 0x01B8, 1, 1},       // Ƹ
    {0x01BC, 0x01BC, 1, 1},       // Ƽ
    {0x01C4, 0x01C4, 1, 2},       // Ǆ -> ǆ
    {0x01C5, 0x01C5, 1, 1},       // ǅ -> ǆ
    {0x01C7, 0x01C7, 1, 2},       // Ǉ -> ǉ
    {0x01C8, 0x01C8, 1, 1},       // ǈ -> ǉ
    {0x01CA, 0x01CA, 1, 2},       // Ǌ -> ǌ
    {0x01CB, 0x01DB, 2, 1},       // ǋ..Ǜ
    {0x01DE, 0x01EE, 2, 1},       // Ǟ..Ǯ
    {0x01F1, 0x01F1, 1, 2},       // Ǳ -> ǳ
    {0x01F2, 0x01F4, 2, 1},       // ǲ..Ǵ
    {0x01F6, 0x01F6, 1, -97},     // Ƕ -> ƕ
    {0x01F7, 0x01F7, 1, -56},     // Ƿ -> ƿ
    {0x01F8, 0x021E, 2, 1},       // Ǹ..Ȟ
    {0x0220, 0x0220, 1, -130},    // Ƞ -> ƞ
    {0x0222, 0x0232, 2, 1},       // Ȣ..Ȳ
    {0x023A, 0x023A, 1, 10795},   // Ⱥ -> ⱥ
    {0x023B, 0x023B, 1, 1},       // Ȼ
    {0x023D, 0x023D, 1, -163},    // Ƚ -> ƚ
    {0x023E, 0x023E, 1, 10792},   // Ⱦ -> ⱦ
    {0x0241, 0x0241, 1, 1},       // Ɂ
    {0x0243, 0x0243, 1, -195},    // Ƀ -> ƀ
    {0x0244, 0x0244, 1, 69},      // Ʉ -> ʉ
    {0x0245, 0x0245, 1, 71},      // Ʌ -> ʌ
    {0x0246, 0x024E, 2, 1},       // Ɇ..Ɏ
    {0x0370, 0x0372, 2, 1},       // Ͱ..Ͳ
    {0x0376, 0x0376, 1, 1},       // Ͷ
    {0x037F, 0x037F, 1, 116},     // Ϳ -> ϳ
    {0x0386, 0x0386, 1, 38},      // Ά -> ά
    {0x0388, 0x038A, 1, 37},      // Έ..Ί
    {0x038C, 0x038C, 1, 64},      // Ό -> ό
    {0x038E, 0x038F, 1, 63},      // Ύ..Ώ
    {0x0391, 0x03A1, 1, 32},      // Α..Ρ
    {0x03A3, 0x03AB, 1, 32},      // Σ..Ϋ (U+03A2 is unassigned)
    {0x03CF, 0x03CF, 1, 8},       // Ϗ -> ϗ
    {0x03D8, 0x03EE, 2, 1},       // Ϙ..Ϯ
    {0x03F4, 0x03F4, 1, -60},     // ϴ -> θ
    {0x03F7, 0x03F7, 1, 1},       // Ϸ
    {0x03F9, 0x03F9, 1, -7},      // Ϲ -> ϲ
    {0x03FA, 0x03FA, 1, 1},       // Ϻ
    {0x03FD, 0x03FF, 1, -130},    // Ͻ..Ͽ
    {0x0400, 0x040F, 1, 80},      // Ѐ..Џ
    {0x0410, 0x042F, 1, 32},      // А..Я
    {0x0460, 0x0480, 2, 1},       // Ѡ..Ҁ
    {0x048A, 0x04BE, 2, 1},       // Ҋ..Ҿ
    {0x04C0, 0x04C0, 1, 15},      // Ӏ -> ӏ
    {0x04C1, 0x04CD, 2, 1},       // Ӂ..Ӎ
    {0x04D0, 0x052E, 2, 1},       // Ӑ..Ԯ
    {0x1E00, 0x1E94, 2, 1},       // Ḁ..Ẕ
    {0x1E9E, 0x1E9E, 1, -7615},   // ẞ -> ß
    {0x1EA0, 0x1EFE, 2, 1},       // Ạ..Ỿ
}};

constexpr bool runsAreOrdered() {
    for (std::size_t i = 1; i < LowerCaseRuns.size(); ++i) {
        if (LowerCaseRuns[i].first <= LowerCaseRuns[i - 1].last) return false;
    }
    return true;
}
static_assert(runsAreOrdered(), "foldCase looks runs up by binary search");

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
    return toUtf16(utf8, static_cast<std::size_t>(-1));
}

std::u16string toUtf16(std::string_view utf8, std::size_t maxUnits) {
    std::u16string out;
    out.reserve(std::min(utf8.size(), maxUnits));
    for (std::size_t pos = 0; pos < utf8.size();) {
        const Decoded d = decodeUtf8(utf8, pos);
        if (out.size() + utf16Units(d.codePoint) > maxUnits) {
            break;
        }
        appendUtf16(out, d.codePoint);
        pos += d.length;
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    return toUtf8(utf16, static_cast<std::size_t>(-1));
}

std::string toUtf8(std::u16string_view utf16, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(utf16.size() * 3, maxBytes));
    for (std::size_t pos = 0; pos < utf16.size();) {
        const DecodedUnit d = decodeUtf16(utf16, pos);
        if (out.size() + utf8Bytes(d.codePoint) > maxBytes) {
            break;
        }
        appendUtf8(out, d.codePoint);
        pos += d.length;
    }
    return out;
}

std::u16string_view cutUtf16(std::u16string_view text, std::size_t maxUnits) {
    if (text.size() <= maxUnits) {
        return text;
    }
    text = text.substr(0, maxUnits);
    if (!text.empty() && isHighSurrogate(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::size_t u16length(const char16_t* text) {
    if (text == nullptr) {
        return 0;
    }
    std::size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void upperAsciiInPlace(std::string& text) {
    for (char& c : text) {
        c = upperAscii(c);
    }
}

char16_t foldCase(char16_t unit) {
    if (unit < 0x80) {
        return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
    }
    // The last run that starts at or before the unit.
    const auto it = std::upper_bound(LowerCaseRuns.begin(), LowerCaseRuns.end(), unit,
                                     [](char16_t u, const CaseRun& run) { return u < run.first; });
    if (it == LowerCaseRuns.begin()) {
        return unit;
    }
    const CaseRun& run = *(it - 1);
    if (unit > run.last || (unit - run.first) % run.stride != 0) {
        return unit;
    }
    return static_cast<char16_t>(unit + run.delta);
}

std::u16string foldCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& unit : out) {
        unit = foldCase(unit);
    }
    return out;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i])) {
            return false;
        }
    }
    return true;
}

bool isValidUtf8(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) {
            return toUtf8(toUtf16(text)) == text;
        }
    }
    return true;
}

}  // namespace velk::platform
