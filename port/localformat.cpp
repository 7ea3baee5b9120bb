#include "port/localformat.h"

#include <clocale>

std::string FormatDateTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char date[128];
    char time[128];
    if (std::strftime(date, sizeof date, "%x", &local) == 0) date[0] = '\0';
    std::string text = date;
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        if (std::strftime(time, sizeof time, "%X", &local) == 0) time[0] = '\0';
        text += ' ';
        text += time;
    }
    return text;
}

std::string NowAsText() {
    return FormatDateTime(std::time(nullptr));
}

char DecimalSeparator() {
    const std::lconv* conv = std::localeconv();
    return conv && conv->decimal_point && conv->decimal_point[0] ? conv->decimal_point[0] : '.';
}
