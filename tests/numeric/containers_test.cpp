#include <gtest/gtest.h>

#include <utility>

#include "numeric/nr.h"

TEST(NRvector, ResizeToSameSizeKeepsContentsOtherSizeReallocates) {
    NRvector<double> v(5);
    for (int i = 0; i < 5; ++i) v[i] = i + 0.5;
    v.resize(5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(v[i], i + 0.5);
    v.resize(6);
    ASSERT_EQ(v.size(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], 0.0);  // fresh storage is zeroed
    v.resize(0);
    EXPECT_EQ(v.size(), 0);
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
    EXPECT_EQ(a.ptr()[2], a[2]);
    a.resize(2, 2);
    EXPECT_EQ(a[1][1], 0.0);  // new dimensions start from zeros
}

TEST(NRmatrix, CopiesOwnTheirRows) {
    NRmatrix<double> a(2, 3);
    a[1][2] = 4.0;
    NRmatrix<double> b = a;
    NRmatrix<double> c;
    c = a;
    b[1][2] = 5.0;
    c.ptr()[1][2] = 6.0;
    EXPECT_EQ(a[1][2], 4.0);
    EXPECT_EQ(b[1] - b[0], 3);
    EXPECT_EQ(c[1][2], 6.0);
    NRmatrix<double> moved = std::move(b);
    EXPECT_EQ(moved[1][2], 5.0);
    EXPECT_EQ(moved.ptr()[1], moved[0] + 3);
}
