#include <gtest/gtest.h>

#include "numeric/nr.h"

TEST(NRvector, ResizeToSameSizeKeepsContentsOtherSizeReallocates) {
    NRvector<double> v(5);
    for (int i = 0; i < 5; ++i) v[i] = i + 0.5;
    v.resize(5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(v[i], i + 0.5);
    v.resize(6);
    EXPECT_EQ(v.size(), 6);
    v.resize(0);
    EXPECT_EQ(v.size(), 0);
    EXPECT_EQ(v.data(), nullptr);
}

TEST(NRvector, AppendKeepsEarlierElementsAcrossGrowth) {
    NRvector<double> v;
    v.append(2.5);
    ASSERT_EQ(v.size(), 1);
    EXPECT_EQ(v[0], 2.5);
    for (int i = 1; i < 1000; ++i) v.append(i);
    ASSERT_EQ(v.size(), 1000);
    EXPECT_EQ(v[0], 2.5);
    for (int i = 1; i < 1000; ++i) ASSERT_EQ(v[i], i);
    NRvector<double> copy = v;
    copy.append(-1);
    EXPECT_EQ(v.size(), 1000);
    EXPECT_EQ(copy.size(), 1001);
    EXPECT_EQ(copy[1000], -1);
}

TEST(NRvector, MaximumAndMinimum) {
    NRvector<double> v;
    for (double x : {3.0, 7.0, 7.0, 1.0}) v.append(x);
    EXPECT_EQ(v.maximum(), 7.0);
    EXPECT_EQ(v.minimum(), 1.0);
}

TEST(NRmatrix, RowsAreConsecutiveInOneBlock) {
    NRmatrix<double> a;
    a.resize(3, 4);
    EXPECT_EQ(a[1] - a[0], 4);
    EXPECT_EQ(a[2] - a[0], 8);
    a[2][3] = 1.5;
    a.resize(3, 4);
    EXPECT_EQ(a[2][3], 1.5);
    EXPECT_EQ(a[0][11], 1.5);  // one contiguous block, row by row
}
