// Calendar time as days since 30 December 1899 in local wall-clock time, and its text.
#pragma once

#include <string>

namespace quorvel {

// Local time now, in whole seconds, as days since 1899-12-30.
double current_date_time();

// "yyyy-MM-dd HH:mm:ss", the time of day rounded to the nearest second.
std::string time_stamp_text(double value);

}  // namespace quorvel
