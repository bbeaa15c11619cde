// Gaussian elimination with partial pivoting for the Newton systems of the stiff integrator:
// real and complex matrices (a complex matrix is a pair of real matrices, real and imaginary
// parts), each in full storage, band storage and full storage with a limited lower bandwidth
// ("Hessenberg"), the matching solves, and the reduction of a full matrix to upper Hessenberg
// form by stabilised elementary similarity transformations.
//
// Storage conventions shared by every routine:
// - A full matrix is an array of row pointers; a[i][j] is row i, column j, indices from 0.
// - Band matrix with lower bandwidth ml and upper bandwidth mu: stored by columns, n
//   pointers (one per column) to 2*ml + mu + 1 doubles each, so that the elimination and
//   the solves run along contiguous memory. Element (i, j) lives at a[j][i - j + ml + mu];
//   position ml + mu of each column holds the diagonal, positions 0 .. ml-1 are work space
//   for the fill-in created by row interchanges (the decomposition clears them itself).
// - Hessenberg storage is full storage; elements with i - j > lb are never read.
// - Pivot vector of n ints: entry k (k < n-1) is the row swapped with row k at elimination
//   step k; entry n-1 is the parity of the interchanges (+1 or -1), so that
//   det A = pivot[n-1] * product of the diagonal of U, and 0 once a zero pivot was met.
// - A decomposition leaves U on and above the diagonal and the negated elimination
//   multipliers below it. It returns 0, or the column (counted from 1) whose pivot was an
//   exact zero.
//
// Every routine works in place on caller-owned arrays, allocates nothing on the heap,
// prints nothing and keeps no state between calls.
#pragma once

int decompose_full(int n, double** a, int* pivots);
void solve_full(int n, double* const* a, double* b, const int* pivots);

int decompose_hessenberg(int n, double** a, int lb, int* pivots);
void solve_hessenberg(int n, double* const* a, int lb, double* b, const int* pivots);

int decompose_full_complex(int n, double** ar, double** ai, int* pivots);
void solve_full_complex(int n, double* const* ar, double* const* ai, double* br, double* bi,
                        const int* pivots);

int decompose_hessenberg_complex(int n, double** ar, double** ai, int lb, int* pivots);
void solve_hessenberg_complex(int n, double* const* ar, double* const* ai, int lb, double* br,
                              double* bi, const int* pivots);

int decompose_band(int n, double** a, int ml, int mu, int* pivots);
void solve_band(int n, double* const* a, int ml, int mu, double* b, const int* pivots);

int decompose_band_complex(int n, double** ar, double** ai, int ml, int mu, int* pivots);
void solve_band_complex(int n, double* const* ar, double* const* ai, int ml, int mu, double* br,
                        double* bi, const int* pivots);

// Reduces rows and columns low .. igh-1 of the full n x n matrix a to upper Hessenberg form.
// The multipliers stay below the sub-diagonal (a[i][m-1] for i > m) and interchanges[m] is
// the row exchanged with row m at step m; together they define the similarity transform
// that carries vectors into and out of the Hessenberg basis.
void reduce_to_hessenberg(int n, int low, int igh, double** a, int* interchanges);

// The reduction above is H = S^-1 A S with S = P_1 L_1 P_2 L_2 ... P_{n-2} L_{n-2} (P_m the
// interchange of step m, L_m the elementary transform whose multipliers sit in column m-1
// below the sub-diagonal). (s I - A) x = b becomes (s I - H) (S^-1 x) = S^-1 b:
// into_hessenberg_basis applies S^-1 to v in place, out_of_hessenberg_basis applies S.
// `a` and `interchanges` are what reduce_to_hessenberg left.
void into_hessenberg_basis(int n, const double* const* a, const int* interchanges, double* v);
void out_of_hessenberg_basis(int n, const double* const* a, const int* interchanges, double* v);
