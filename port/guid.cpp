#include "port/guid.h"

#include <uuid/uuid.h>

#include <cstdio>

TGUID NewGuid() {
    uuid_t raw;
    uuid_generate_random(raw);
    // libuuid bytes are in text order; the first three groups are the big-endian integer fields.
    TGUID guid;
    guid.D1 =
        (uint32_t{raw[0]} << 24) | (uint32_t{raw[1]} << 16) | (uint32_t{raw[2]} << 8) | raw[3];
    guid.D2 = static_cast<uint16_t>((raw[4] << 8) | raw[5]);
    guid.D3 = static_cast<uint16_t>((raw[6] << 8) | raw[7]);
    for (int i = 0; i < 8; ++i)
        guid.D4[i] = raw[8 + i];
    return guid;
}

std::string GuidToString(const TGUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.D1), static_cast<unsigned>(g.D2),
                  static_cast<unsigned>(g.D3), g.D4[0], g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5],
                  g.D4[6], g.D4[7]);
    return text;
}
