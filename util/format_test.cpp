#include "util/format.h"

#include <gtest/gtest.h>
#include <time.h>

#include <string>

TEST(format_date, reads_as_asctime_in_any_year) {
    for (const int year : {1999, 2026, 12345}) {
        struct tm tm = {};
        tm.tm_year = year - 1900, tm.tm_mon = 5, tm.tm_mday = 1;
        tm.tm_hour = 11, tm.tm_min = 45, tm.tm_sec = 9;
        timegm(&tm);  // fills in the weekday
        char buffer[kDateSize];
        const std::string date = format_date(&tm, buffer, sizeof(buffer));
        EXPECT_EQ(date.substr(3), " Jun  1 11:45:09 " + std::to_string(year) + "\n");
        // asctime itself has no room past 9999.
        if (year < 10000) {
            EXPECT_EQ(date, asctime(&tm));
        }
    }
}
