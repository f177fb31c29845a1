// effEditGetRect as a host written in plain C against the binary interface
// alone sees it: every entry's rectangle before any editor opens is its
// script's size.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/TestSupport.h"

namespace {

TEST(CHost, EveryEntrysRectangleIsItsScriptsSize)
{
    const char* const kExpected[] = {
        "QZs0 0 0 220 510", "QZs1 0 0 385 925", "QZs2 0 0 360 733", "QZs3 0 0 315 714", "QZs4 0 0 220 510",
        "QZs5 0 0 269 550", "QZs6 0 0 360 854", "QZs7 0 0 404 494", "QZs8 0 0 257 786", "QZs9 0 0 220 510",
        "QZsa 0 0 385 925", "QZsb 0 0 135 410", "QZsc 0 0 450 723", "QZsd 0 0 450 723", "QZse 0 0 201 526",
        "QZsf 0 0 201 526", "QZs( 0 0 314 603", "QZsg 0 0 335 670", "QZsh 0 0 335 670", "QZsi 0 0 125 650",
        "QZsj 0 0 360 685", "QZsk 0 0 300 955", "QZsl 0 0 380 570", "QZsm 0 0 315 714", "QZsn 0 0 400 400",
    };
    std::string command = std::string("'") + CORVANE_C_HOST_PATH + "' '" + corvane::test::ModulePath() + "'";
    for (const char* line : kExpected)
        command += std::string(" '") + std::string(line, 4) + "'";
    std::string output;
    ASSERT_EQ(corvane::test::RunCommand(command + " 2>/dev/null", &output), 0) << output;
    std::istringstream lines(output);
    std::string line;
    for (const char* expected : kExpected) {
        ASSERT_TRUE(std::getline(lines, line)) << "no line for " << expected;
        EXPECT_EQ(line, expected);
    }
}

} // namespace
