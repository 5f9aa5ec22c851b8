#include "common/text.h"

std::size_t BoundedLength(const char16_t* text, std::size_t maxChars) {
    std::size_t length = 0;
    while (length < maxChars && text[length] != u'\0') {
        ++length;
    }
    return length;
}

std::u16string TextOfBuffer(const char16_t* buffer, std::size_t maxChars) {
    return {buffer, BoundedLength(buffer, maxChars)};
}

std::u16string DecimalText(std::int64_t value) {
    // Work on the magnitude as unsigned so that the most negative value is safe.
    std::uint64_t magnitude =
        value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    char16_t digits[24];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::u16string text;
    if (value < 0) {
        text.push_back(u'-');
    }
    while (count > 0) {
        text.push_back(digits[--count]);
    }
    return text;
}

namespace {
bool IsConversionSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}
}  // namespace

std::int32_t WideTextToInt(std::u16string_view text) {
    std::size_t position = 0;
    while (position < text.size() && IsConversionSpace(text[position])) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == u'+' || text[position] == u'-')) {
        negative = text[position] == u'-';
        ++position;
    }
    std::uint32_t value = 0;
    while (position < text.size() && text[position] >= u'0' && text[position] <= u'9') {
        value = value * 10U + static_cast<std::uint32_t>(text[position] - u'0');
        ++position;
    }
    if (negative) {
        value = ~value + 1U;
    }
    return static_cast<std::int32_t>(value);
}

namespace {
char16_t FoldAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
}  // namespace

bool EqualsIgnoringAsciiCase(std::u16string_view left, std::u16string_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldAsciiLetter(left[i]) != FoldAsciiLetter(right[i])) {
            return false;
        }
    }
    return true;
}

std::u16string_view CutWithoutSplittingPair(std::u16string_view text, std::size_t maxUnits) {
    if (text.size() <= maxUnits) {
        return text;
    }
    std::size_t length = maxUnits;
    // A high surrogate as the last kept unit would lose its partner.
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
        --length;
    }
    return text.substr(0, length);
}

std::u16string AsciiToWide(std::string_view ascii) {
    std::u16string wide;
    wide.reserve(ascii.size());
    for (char c : ascii) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}
