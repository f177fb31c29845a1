// A host that hands a two-channel plug-in its left output as its right
// input: the right channel must see the left one's finished (smoothed)
// output, as when each channel runs whole, left first. The reference is one
// instance that gives the left output and another that takes that as its
// right input.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace corvane::test {

// make() gives a set-up instance (a pointer-like owner); leftInput(block, i)
// the left input's samples.
template <class Make, class LeftInput>
void ExpectRightInputWiredToLeftOutputSeesItFinished(Make make, LeftInput leftInput, int blocks = 4)
{
    constexpr int32_t kBlock = 64;
    auto wired = make();
    auto left = make();
    auto right = make();
    std::vector<float> in0(kBlock), zero(kBlock, 0.0f), shared(kBlock), out1(kBlock), leftOut0(kBlock),
        leftOut1(kBlock), rightOut0(kBlock), rightOut1(kBlock);
    for (int block = 0; block < blocks; ++block) {
        for (int32_t i = 0; i < kBlock; ++i)
            in0[i] = leftInput(block * kBlock + i);
        float* wiredIn[2] = {in0.data(), shared.data()};
        float* wiredOut[2] = {shared.data(), out1.data()};
        wired->processReplacing(wiredIn, wiredOut, kBlock);
        float* leftIn[2] = {in0.data(), zero.data()};
        float* leftOut[2] = {leftOut0.data(), leftOut1.data()};
        left->processReplacing(leftIn, leftOut, kBlock);
        float* rightIn[2] = {in0.data(), leftOut0.data()};
        float* rightOut[2] = {rightOut0.data(), rightOut1.data()};
        right->processReplacing(rightIn, rightOut, kBlock);
        ASSERT_EQ(shared, leftOut0) << "block " << block;
        ASSERT_EQ(out1, rightOut1) << "block " << block;
    }
}

} // namespace corvane::test
