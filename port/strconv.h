// Strict decimal conversion of counts and settings. Counts travel as decimal text and must
// convert exactly as they always have: an optional sign, decimal digits, within 32 bits; nothing
// else (no blanks, no hexadecimal).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The value of text, or nothing when text is not a valid 32-bit decimal integer.
std::optional<int32_t> TryStrToInt(std::string_view text) noexcept;

// The value of text; raises EConvertError "'<text>' is not a valid integer value" otherwise.
int32_t StrToInt(std::string_view text);
