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

std::chrono::year_month_day LocalDate(std::chrono::system_clock::time_point when) {
    const std::time_t time = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&time, &local);
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}
