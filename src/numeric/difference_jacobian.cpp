#include "numeric/difference_jacobian.h"

#include <algorithm>
#include <utility>

ColumnGroups column_groups(int n, const SparsePattern& pattern) {
    const auto un = static_cast<std::size_t>(n);
    ColumnGroups g;
    // the transpose, column by column, for the colouring; put in group order below
    g.rowStart.assign(un + 1, 0);
    for (int c : pattern.columns) ++g.rowStart[static_cast<std::size_t>(c) + 1];
    for (std::size_t j = 0; j < un; ++j) g.rowStart[j + 1] += g.rowStart[j];
    g.rows.resize(pattern.columns.size());
    {
        std::vector<int> fill(g.rowStart.begin(), g.rowStart.end() - 1);
        for (int i = 0; i < n; ++i)
            for (int e = pattern.rowStart[static_cast<std::size_t>(i)];
                 e < pattern.rowStart[static_cast<std::size_t>(i) + 1]; ++e) {
                const auto c =
                    static_cast<std::size_t>(pattern.columns[static_cast<std::size_t>(e)]);
                g.rows[static_cast<std::size_t>(fill[c]++)] = i;
            }
    }
    // each column into the first group that none of the columns sharing a row with it has
    std::vector<int> group(un, -1);
    std::vector<int> forbiddenBy;  // per group: the last column that found it taken
    int groups = 0;
    for (int j = 0; j < n; ++j) {
        for (int r = g.rowStart[static_cast<std::size_t>(j)]; r < g.rowStart[static_cast<std::size_t>(j) + 1]; ++r) {
            const int i = g.rows[static_cast<std::size_t>(r)];
            for (int e = pattern.rowStart[static_cast<std::size_t>(i)];
                 e < pattern.rowStart[static_cast<std::size_t>(i) + 1]; ++e) {
                const int taken = group[static_cast<std::size_t>(pattern.columns[static_cast<std::size_t>(e)])];
                if (taken >= 0) forbiddenBy[static_cast<std::size_t>(taken)] = j;
            }
        }
        int chosen = 0;
        while (chosen < groups && forbiddenBy[static_cast<std::size_t>(chosen)] == j) ++chosen;
        if (chosen == groups) {
            ++groups;
            forbiddenBy.push_back(-1);
        }
        group[static_cast<std::size_t>(j)] = chosen;
    }
    g.groupStart.assign(static_cast<std::size_t>(groups) + 1, 0);
    for (int k : group) ++g.groupStart[static_cast<std::size_t>(k) + 1];
    for (int k = 0; k < groups; ++k)
        g.groupStart[static_cast<std::size_t>(k) + 1] += g.groupStart[static_cast<std::size_t>(k)];
    g.groupColumns.resize(un);
    std::vector<int> next(g.groupStart.begin(), g.groupStart.end() - 1);
    for (int j = 0; j < n; ++j)
        g.groupColumns[static_cast<std::size_t>(next[static_cast<std::size_t>(group[static_cast<std::size_t>(j)])]++)] = j;
    // the rows in the order of groupColumns
    std::vector<int> rowStart(un + 1, 0), rows(g.rows.size());
    for (std::size_t e = 0; e < un; ++e) {
        const auto j = static_cast<std::size_t>(g.groupColumns[e]);
        const auto from = g.rows.begin() + g.rowStart[j];
        const auto to = g.rows.begin() + g.rowStart[j + 1];
        std::copy(from, to, rows.begin() + rowStart[e]);
        rowStart[e + 1] = rowStart[e] + static_cast<int>(to - from);
    }
    g.rowStart = std::move(rowStart);
    g.rows = std::move(rows);
    return g;
}
