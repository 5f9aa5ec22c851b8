// Small UTF-16 text helpers shared by the subsystems. Composition of message and
// key texts is done here, with explicit bounds, instead of through a formatter
// that is handed a fixed-size buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Length of a NUL-terminated UTF-16 text, reading at most maxChars units.
std::size_t BoundedLength(const char16_t* text, std::size_t maxChars);

// The text of a NUL-terminated buffer of maxChars units: up to the first NUL,
// or the whole buffer when it holds none.
std::u16string TextOfBuffer(const char16_t* buffer, std::size_t maxChars);

// Decimal text of a number, no leading zeros; negative values get a "-".
std::u16string DecimalText(std::int64_t value);

// The standard wide text-to-integer conversion (_wtoi): leading white space
// skipped, one optional sign, decimal digits up to the first other character;
// 0 when there are no digits. The value wraps modulo 2^32 like the C runtime's
// 32-bit accumulator.
std::int32_t WideTextToInt(std::u16string_view text);

// Compares two texts, folding only the letters A to Z to lower case.
bool EqualsIgnoringAsciiCase(std::u16string_view left, std::u16string_view right);

// Cuts text to at most maxUnits UTF-16 units without splitting a surrogate pair.
std::u16string_view CutWithoutSplittingPair(std::u16string_view text, std::size_t maxUnits);

// ASCII text as UTF-16 (each byte becomes one unit); for fixed texts only.
std::u16string AsciiToWide(std::string_view ascii);
