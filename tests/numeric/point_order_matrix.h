// A random matrix shaped like a transport Jacobian in point order, for the tests of the
// solvers that exploit that shape.
#pragma once

#include <cstdlib>
#include <random>

#include "numeric/nr.h"

// J shaped like a transport Jacobian in point order: nodes of `width` unknowns coupled to
// themselves and their neighbours, and at both ends of every stretch of `stretch` nodes
// rows that reach three nodes inwards (one-sided edge differences). Random entries of
// both signs, so that the diagonal blocks' LU has to interchange rows.
inline MatDoub point_order_matrix(int nodes, int width, int stretch, std::mt19937& gen) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int n = nodes * width;
    MatDoub a(n, n);
    for (int i = 0; i < n; ++i) {
        const int node = i / width;
        const int edge = node % stretch == 0 ? 1 : node % stretch == stretch - 1 ? -1 : 0;
        for (int j = 0; j < n; ++j) {
            const int d = j / width - node;
            if (std::abs(d) <= 1 || (edge != 0 && d * edge > 0 && d * edge <= 3))
                a[i][j] = u(gen);
        }
    }
    return a;
}

