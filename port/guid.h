// GUIDs in the Windows layout (one 32-bit field, two 16-bit fields, eight bytes), so that their
// text forms stay those that entry IDs and lock names were always made from.
#pragma once

#include <cstdint>
#include <string>

struct TGUID {
    uint32_t D1 = 0;
    uint16_t D2 = 0;
    uint16_t D3 = 0;
    uint8_t D4[8] = {};
};

// A fresh random GUID.
TGUID NewGuid();

// The standard 38-character form: braces, upper-case digits, groups 8-4-4-4-12.
std::string GuidToString(const TGUID& guid);
