#include "text/time_stamp.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace quorvel {

namespace {

using namespace std::chrono;

constexpr sys_days day_zero = sys_days{year{1899} / December / 30};
constexpr int seconds_per_day = 86400;

// The range a four-digit year can show: 0100-01-01 to 9999-12-31.
constexpr double first_day = -657434.0;
constexpr double last_day = 2958466.0;

}  // namespace

double current_date_time()
{
    ::tzset();  // localtime_r alone may keep a zone that has changed since the first call
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return 0.0;
    const year_month_day date{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday};
    const double days = static_cast<double>((sys_days{date} - day_zero).count());
    const int second_of_day = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return days + static_cast<double>(second_of_day) / seconds_per_day;
}

std::string time_stamp_text(double value)
{
    if (!(value > first_day && value < last_day)) return {};
    // Days count toward zero and the fraction is a time of day either way (-1.25 is 06:00 on
    // 29 December 1899); rounding to the second absorbs the clock's floating-point error.
    const double whole_days = std::trunc(value);
    const double fraction = std::fabs(value - whole_days);
    auto second_of_day = static_cast<int>(std::lround(fraction * seconds_per_day));
    auto day = static_cast<int>(whole_days);
    if (second_of_day >= seconds_per_day) {
        second_of_day -= seconds_per_day;
        ++day;
    }
    const year_month_day date{day_zero + days{day}};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  second_of_day / 3600, second_of_day / 60 % 60, second_of_day % 60);
    return text;
}

}  // namespace quorvel
