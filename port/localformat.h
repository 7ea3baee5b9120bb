// The user's regional formats, read through the C locale that the program sets from the
// environment at start-up.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

// The date in the short date format and, unless the time is exactly 00:00:00, a blank and the
// time in the long time format.
std::string FormatDateTime(std::time_t when);

// FormatDateTime of the present moment.
std::string NowAsText();

// The user's decimal separator.
char DecimalSeparator();

// The user's calendar date at a moment, in the local time zone.
std::chrono::year_month_day LocalDate(std::chrono::system_clock::time_point when);
