// The browser's unit tests run in a UTF-8 character locale (which
// characters take one column) and in UTC (the watch list's times).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    tzset();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
