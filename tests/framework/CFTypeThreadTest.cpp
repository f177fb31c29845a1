// First uses of the constant-string table from several threads at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "framework/CFType.h"

namespace {
const char kLiterals[8][8] = {"one", "two", "three", "four", "five", "six", "seven", "eight"};
}

TEST(ConstantStrings, ConcurrentFirstUsesAgree)
{
    std::vector<CFString*> seen[4];
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &seen] {
            for (int round = 0; round < 200; ++round)
                for (const auto& literal : kLiterals)
                    seen[t].push_back(CFStringMakeConstant(literal));
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 1; t < 4; ++t)
        EXPECT_EQ(seen[t], seen[0]);
    for (const auto& literal : kLiterals)
        EXPECT_EQ(CFStringMakeConstant(literal)->RetainCount(), 1u);
}
