#include "numeric/stiff_integrator.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

#include "numeric/linear_solvers.h"

namespace {

// T transforms the decoupled stage increments back to the stage increments; TI = T^-1
// decouples the stage system into one real and one complex system.
constexpr double kT[3][3] = {
    {0.09123239487089295, -0.1412552950209542, -0.030029194105147424},
    {0.241717932707107, 0.20412935229379994, 0.3829421127572619},
    {0.966048182615093, 1.0, 0.0},
};
constexpr double kTI[3][3] = {
    {4.325579890063155, 0.33919925181580984, 0.5417705399358749},
    {-4.178718591551905, -0.32768282076106237, 0.47662355450055044},
    {-0.5028726349457868, 2.571926949855605, -0.5960392048282249},
};

// (a, b, c) <- M (a, b, c), component by component
void apply_3x3(const double (&m)[3][3], const double* a, const double* b, const double* c,
               double* ra, double* rb, double* rc, int n) {
    for (int i = 0; i < n; ++i) {
        const double ai = a[i];
        const double bi = b[i];
        const double ci = c[i];
        ra[i] = m[0][0] * ai + m[0][1] * bi + m[0][2] * ci;
        rb[i] = m[1][0] * ai + m[1][1] * bi + m[1][2] * ci;
        rc[i] = m[2][0] * ai + m[2][1] * bi + m[2][2] * ci;
    }
}

bool is_supported(int ijob) {
    switch (ijob) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 7:
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            return true;
        default:
            return false;
    }
}

// Messages are formatted on a fresh stream, so that numbers appear in the default format
// (six significant digits) whatever the caller did to std::cout's settings.
template <class... Parts>
void print_line(const Parts&... parts) {
    std::ostringstream line;
    (line << ... << parts);
    std::cout << line.str() << std::endl;
}

void exit_message(double x) { print_line(" exit of RADAU5 at x = ", x); }

}  // namespace

StiffIntegratorT::StiffIntegratorT(
    OdeSystem& system, int n_, double* y_, double x_, double x_end_, int vector_tolerances_,
    double* rel_tolerance_, double* abs_tolerance_, int output_mode_, double h_, double h_max_,
    int nmax_, double uround_, double safe_, double facl_, double facr_, int analytic_jacobian_,
    int jac_lower_, int jac_upper_, int mass_given_, int mass_lower_, int mass_upper_, int nit_,
    bool zero_start_, int nind1_, int nind2_, int nind3_, int controller_choice_, int m1_, int m2_,
    int use_hessenberg_, double fnewt_, double quot1_, double quot2_, double thet_)
    : IntegratorT(system, n_, y_, x_, x_end_, vector_tolerances_, rel_tolerance_, abs_tolerance_,
                  output_mode_, h_, h_max_, nmax_, uround_, safe_, facl_, facr_),
      analytic_jacobian(analytic_jacobian_),
      jac_lower(jac_lower_),
      jac_upper(jac_upper_),
      mass_given(mass_given_),
      mass_lower(mass_lower_),
      mass_upper(mass_upper_),
      nit(nit_),
      zero_start(zero_start_),
      nind1(nind1_),
      nind2(nind2_),
      nind3(nind3_),
      controller_choice(controller_choice_),
      m1(m1_),
      m2(m2_),
      use_hessenberg(use_hessenberg_),
      fnewt(fnewt_),
      quot1(quot1_),
      quot2(quot2_),
      thet(thet_) {
    // Tolerances: checked here, transformed in the caller's storage only after every check
    // has passed, so a refused construction leaves the caller's values as they were.
    const int tolerance_pairs = vector_tolerances != 0 ? n : 1;
    for (int i = 0; i < tolerance_pairs; ++i) {
        if (abs_tolerance[i] > 0.0 && rel_tolerance[i] > 10.0 * uround) continue;
        if (vector_tolerances == 0) refuse(" tolerances are too small");
        std::ostringstream message;
        message << " tolerances('" << i << ") are too small";
        refuse(message.str());
    }
    const double first_rtol = 0.1 * std::pow(rel_tolerance[0], 2.0 / 3.0);

    if (std::fabs(h) < 10.0 * uround) h = 1e-6;

    if (facl == 0.0) facl = 5.0;
    if (facr == 0.0) facr = 0.125;
    if (facl < 1.0 || facr > 1.0) {
        std::ostringstream message;
        message << " curious input facl, facr = " << facl << facr;
        refuse(message.str());
    }

    if (nit == 0) nit = 7;
    if (nit <= 0) {
        std::ostringstream message;
        message << " curious input nit = " << nit;
        refuse(message.str());
    }

    if (nind1 == 0) nind1 = n;
    if (nind1 + nind2 + nind3 != n) {
        std::ostringstream message;
        message << " curious input for nind1, nind2, nind3 = " << nind1 << nind2 << nind3;
        refuse(message.str());
    }

    predictive = controller_choice <= 1;

    reduced_n = n - m1;
    if (m1 == 0) m2 = n;
    if (m2 == 0) m2 = m1;
    // The reduction eliminates whole blocks of m2 components, so m1 must be a multiple of
    // m2; otherwise components would be left out of it and the stages come out wrong.
    if (m1 < 0 || m2 < 0 || m1 + m2 > n || (m2 > 0 && m1 % m2 != 0)) {
        std::ostringstream message;
        message << " curious input for m1, m2 = " << m1 << m2;
        refuse(message.str());
    }

    if (fnewt == 0.0)
        fnewt = std::max(10.0 * uround / first_rtol, std::min(0.03, std::sqrt(first_rtol)));
    if (uround / first_rtol >= fnewt) {
        std::ostringstream message;
        message << " curious input for fnewt = " << fnewt;
        refuse(message.str());
    }

    if (quot1 == 0.0) quot1 = 1.0;
    if (quot2 == 0.0) quot2 = 1.2;
    if (quot1 > 1.0 || quot2 < 1.0) {
        std::ostringstream message;
        message << " curious input for quot1, quot2 = " << quot1 << quot2;
        refuse(message.str());
    }

    if (thet == 0.0) thet = 0.001;
    if (thet >= 1.0) {
        std::ostringstream message;
        message << " curious input for thet = " << thet;
        refuse(message.str());
    }

    has_mass = mass_given != 0;
    banded_jacobian = jac_lower < reduced_n;
    if (banded_jacobian) {
        // Negative bandwidths would index outside the band storage.
        if (jac_lower < 0 || jac_upper < 0) {
            std::ostringstream message;
            message << " curious input for jac_lower, jac_upper = " << jac_lower << jac_upper;
            refuse(message.str());
        }
        // With second-order structure the banded Jacobian is stored block by block of m2
        // columns and the reduced system is the last block, so the blocks must fill n.
        if (m1 > 0 && m1 + m2 != n) {
            std::ostringstream message;
            message << " curious input for m1, m2 = " << m1 << m2;
            refuse(message.str());
        }
        jac_rows = jac_lower + jac_upper + 1;
        e_rows = jac_lower + jac_rows;
    } else {
        jac_lower = reduced_n;
        jac_upper = reduced_n;
        jac_rows = reduced_n;
        e_rows = reduced_n;
    }
    if (has_mass) {
        if (mass_lower == reduced_n) {
            mass_upper = reduced_n;
            mass_rows = reduced_n;
            ijob = 5;
        } else {
            if (mass_lower < 0 || mass_upper < 0) {
                std::ostringstream message;
                message << " curious input for mass_lower, mass_upper = " << mass_lower
                        << mass_upper;
                refuse(message.str());
            }
            mass_rows = mass_lower + mass_upper + 1;
            ijob = banded_jacobian ? 4 : 3;
        }
        if (mass_lower > jac_lower || mass_upper > jac_upper)
            refuse("bandwith of 'mas' not smaller than bandwith of 'jac'");
    } else {
        mass_rows = 0;
        ijob = banded_jacobian ? 2 : 1;
        if (ijob == 1 && n >= 3 && use_hessenberg != 0) ijob = 7;
    }
    mass_rows = std::max(mass_rows, 1);
    if (m1 >= 1) ijob += 10;

    e_lower = jac_lower;
    e_upper = jac_upper;
    jac_band_rows = jac_lower + jac_upper + 1;
    mass_band_rows = mass_lower + mass_upper + 1;
    e_diag_row = jac_lower + jac_upper;
    mass_first_e_row = e_diag_row - mass_upper;
    mass_diag_row = mass_upper + 1;

    const auto un = static_cast<std::size_t>(n);
    for (auto* v : {&z1, &z2, &z3, &f_start, &scale, &f1, &f2, &f3}) v->assign(un, 0.0);
    cont.assign(4 * un, 0.0);
    pivots_real.assign(static_cast<std::size_t>(reduced_n), 0);
    pivots_complex.assign(static_cast<std::size_t>(reduced_n), 0);
    hessenberg_swaps.assign(un, 0);
    jac.resize(jac_rows, n);
    mas.resize(mass_rows, n);
    // banded E is held by columns (one row of the MatDoub per column of E), full E by rows
    const int e_table_rows = banded_jacobian ? reduced_n : e_rows;
    const int e_table_cols = banded_jacobian ? e_rows : reduced_n;
    e1.resize(e_table_rows, e_table_cols);
    e2_re.resize(e_table_rows, e_table_cols);
    e2_im.resize(e_table_rows, e_table_cols);

    for (int i = 0; i < tolerance_pairs; ++i) {
        const double quot = abs_tolerance[i] / rel_tolerance[i];
        rel_tolerance[i] = 0.1 * std::pow(rel_tolerance[i], 2.0 / 3.0);
        abs_tolerance[i] = rel_tolerance[i] * quot;
    }
    compute_method_constants();
}

StiffIntegratorT::~StiffIntegratorT() = default;

void StiffIntegratorT::compute_method_constants() {
    const double sq6 = std::sqrt(6.0);
    c1_ = (4.0 - sq6) / 10.0;
    c2_ = (4.0 + sq6) / 10.0;
    c1m1_ = c1_ - 1.0;
    c2m1_ = c2_ - 1.0;
    c1mc2_ = c1_ - c2_;
    const double cr81 = std::pow(81.0, 1.0 / 3.0);
    const double cr9 = std::pow(9.0, 1.0 / 3.0);
    u1_ = 30.0 / (6.0 + cr81 - cr9);
    const double a = (12.0 - cr81 + cr9) / 60.0;
    const double b = (cr81 + cr9) * std::sqrt(3.0) / 60.0;
    const double cno = a * a + b * b;
    alpha_ = a / cno;
    beta_ = b / cno;
}

int StiffIntegratorT::integrate() {
    const int code = run_steps();
    result_code = code;
    if (code < 0) {
        print_line(" Computation failed ");
        return code;
    }
    const int tolerance_pairs = vector_tolerances != 0 ? n : 1;
    for (int i = 0; i < tolerance_pairs; ++i) {
        const double quot = abs_tolerance[i] / rel_tolerance[i];
        rel_tolerance[i] = std::pow(10.0 * rel_tolerance[i], 1.5);
        abs_tolerance[i] = rel_tolerance[i] * quot;
    }
    return code;
}

double StiffIntegratorT::dense_output(int i) const {
    const auto k = static_cast<std::size_t>(i);
    const auto un = static_cast<std::size_t>(n);
    const double s = (x_dense - x) / h_old;
    return cont[k] +
           s * (cont[un + k] + (s - c2m1_) * (cont[2 * un + k] + (s - c1m1_) * cont[3 * un + k]));
}

void StiffIntegratorT::compute_scale() {
    for (int i = 0; i < n; ++i) {
        const int t = vector_tolerances != 0 ? i : 0;
        scale[i] = rel_tolerance[t] * std::fabs(y[i]) + abs_tolerance[t];
    }
}

int StiffIntegratorT::unsupported_case() const {
    print_line("Not a value ijob. \tijob = ", ijob);
    return -1;
}

// ---------------------------------------------------------------------------------------
// Jacobian

void StiffIntegratorT::compute_jacobian() {
    ++jacobian_calls;
    double* const state = y;
    if (analytic_jacobian != 0) {
        system_.jacobian(x, state, jac.ptr());
    } else if (!banded_jacobian) {
        // column i: (f(y + delt e_i) - f(y)) / delt, delt = sqrt(uround * max(1e-5, |y_i|))
        for (int i = 0; i < n; ++i) {
            const double ysafe = state[i];
            const double delt = std::sqrt(uround * std::max(1e-5, std::fabs(ysafe)));
            state[i] = ysafe + delt;
            system_.rhs(x, state, cont.data());
            ++jacobian_function_calls;
            for (int j = m1; j < n; ++j) jac[j - m1][i] = (cont[j] - f_start[j]) / delt;
            state[i] = ysafe;
        }
    } else {
        // Columns that no band row shares are perturbed together: one evaluation serves
        // every md-th column of a block of m2 columns.
        const int md = std::min(jac_lower + jac_upper + 1, m2);
        const int blocks = m1 / m2;
        for (int b = 0; b <= blocks; ++b) {
            const int first = b * m2;
            const int last = (b + 1) * m2 - 1;
            for (int k = 0; k < md; ++k) {
                for (int j = k + first; j <= last; j += md) {
                    f1[j] = state[j];
                    f2[j] = std::sqrt(uround * std::max(1e-5, std::fabs(state[j])));
                    state[j] = state[j] + f2[j];
                }
                system_.rhs(x, state, cont.data());
                ++jacobian_function_calls;
                for (int j = k + first; j <= last; j += md) {
                    const int j1 = j - first;
                    const int lo = std::max(0, j1 - jac_upper) + m1;
                    const int hi = std::min(m2 - 1, j1 + jac_lower) + m1;
                    for (int l = lo; l <= hi; ++l)
                        jac[l - j1 - m1 + jac_upper][j] = (cont[l] - f_start[l]) / f2[j];
                    state[j] = f1[j];
                }
            }
        }
    }
    jacobian_current = true;
    hessenberg_pending = true;
}

// ---------------------------------------------------------------------------------------
// Iteration matrices E1 = gamma M - J and E2 = (alpha + i beta) M - J

int StiffIntegratorT::decompose_real() {
    if (!is_supported(ijob)) return unsupported_case();
    const double fac1 = gamma_h;
    const int nm1 = reduced_n;
    const int col0 = ijob > 10 ? m1 : 0;  // Jacobian column of E's column 0
    const int base = ijob > 10 ? ijob - 10 : ijob;
    switch (base) {
        case 1:
        case 3:
            for (int j = 0; j < nm1; ++j) {
                const double* jr = jac[j] + col0;
                double* er = e1[j];
                for (int i = 0; i < nm1; ++i) er[i] = -jr[i];
            }
            if (base == 1) {
                for (int i = 0; i < nm1; ++i) e1[i][i] = e1[i][i] + fac1;
            } else {
                for (int i = 0; i < nm1; ++i) {
                    const int jlo = std::max(0, i - mass_upper);
                    const int jhi = std::min(nm1, i + mass_lower + 1);
                    for (int j = jlo; j < jhi; ++j)
                        e1[j][i] = e1[j][i] + fac1 * mas[j - i + mass_upper][i];
                }
            }
            break;
        case 2:
        case 4:
            // column i of E from column col0 + i of the Jacobian's band (stored by rows);
            // the fill-in positions 0 .. jac_lower-1 are left to the decomposition
            for (int i = 0; i < nm1; ++i) {
                double* ec = e1[i] + jac_lower;
                for (int j = 0; j < jac_rows; ++j) ec[j] = -jac[j][col0 + i];
                if (base == 2) {
                    e1[i][e_diag_row] = e1[i][e_diag_row] + fac1;
                } else {
                    double* em = e1[i] + mass_first_e_row;
                    for (int j = 0; j < mass_band_rows; ++j) em[j] = em[j] + fac1 * mas[j][i];
                }
            }
            break;
        case 5:
            for (int j = 0; j < nm1; ++j) {
                const double* jr = jac[j] + col0;
                const double* mr = mas[j];
                double* er = e1[j];
                for (int i = 0; i < nm1; ++i) er[i] = fac1 * mr[i] - jr[i];
            }
            break;
        case 7:
            if (hessenberg_pending) {
                reduce_to_hessenberg(n, 0, n, jac.ptr(), hessenberg_swaps.data());
                hessenberg_pending = false;
            }
            for (int i = 0; i < n - 1; ++i) e1[i + 1][i] = -jac[i + 1][i];
            for (int j = 0; j < n; ++j)
                for (int i = j; i < n; ++i) e1[j][i] = -jac[j][i];
            for (int i = 0; i < n; ++i) e1[i][i] = e1[i][i] + fac1;
            return decompose_hessenberg(n, e1.ptr(), 1, pivots_real.data());
    }

    if (ijob > 10) {
        // Second-order structure: the eliminated components add
        // sum over blocks k of J(., i + k m2) / gamma^(mm - k) to column i (banded: band
        // row j of the Jacobian goes to position j + jac_lower of column i of E).
        const int mm = m1 / m2;
        for (int i = 0; i < m2; ++i) {
            for (int j = 0; j < jac_rows; ++j) {
                double s = 0.0;
                for (int k = 0; k < mm; ++k) s = (s + jac[j][i + k * m2]) / fac1;
                double& e = banded_jacobian ? e1[i][j + jac_lower] : e1[j][i];
                e = e - s;
            }
        }
    }
    if (banded_jacobian)
        return decompose_band(nm1, e1.ptr(), jac_lower, jac_upper, pivots_real.data());
    return decompose_full(nm1, e1.ptr(), pivots_real.data());
}

int StiffIntegratorT::decompose_complex() {
    if (!is_supported(ijob)) return unsupported_case();
    const double alphn = alpha_h;
    const double betan = beta_h;
    const int nm1 = reduced_n;
    const int col0 = ijob > 10 ? m1 : 0;
    const int base = ijob > 10 ? ijob - 10 : ijob;
    switch (base) {
        case 1:
        case 3:
            for (int j = 0; j < nm1; ++j) {
                const double* jr = jac[j] + col0;
                double* er = e2_re[j];
                double* ei = e2_im[j];
                for (int i = 0; i < nm1; ++i) {
                    er[i] = -jr[i];
                    ei[i] = 0.0;
                }
            }
            if (base == 1) {
                for (int i = 0; i < nm1; ++i) {
                    e2_re[i][i] = e2_re[i][i] + alphn;
                    e2_im[i][i] = betan;
                }
            } else {
                for (int i = 0; i < nm1; ++i) {
                    const int jlo = std::max(0, i - mass_upper);
                    const int jhi = std::min(nm1, i + mass_lower + 1);
                    for (int j = jlo; j < jhi; ++j) {
                        const double bb = mas[j - i + mass_upper][i];
                        e2_re[j][i] = e2_re[j][i] + alphn * bb;
                        e2_im[j][i] = betan * bb;
                    }
                }
            }
            break;
        case 2:
        case 4:
            // column by column, as in decompose_real
            for (int i = 0; i < nm1; ++i) {
                double* er = e2_re[i] + jac_lower;
                double* ei = e2_im[i] + jac_lower;
                for (int j = 0; j < jac_rows; ++j) {
                    er[j] = -jac[j][col0 + i];
                    ei[j] = 0.0;
                }
                if (base == 2) {
                    e2_re[i][e_diag_row] = e2_re[i][e_diag_row] + alphn;
                    e2_im[i][e_diag_row] = betan;
                } else {
                    double* emr = e2_re[i] + mass_first_e_row;
                    double* emi = e2_im[i] + mass_first_e_row;
                    for (int j = 0; j < mass_band_rows; ++j) {
                        const double bb = mas[j][i];
                        emr[j] = emr[j] + alphn * bb;
                        emi[j] = betan * bb;
                    }
                }
            }
            break;
        case 5:
            for (int j = 0; j < nm1; ++j) {
                const double* jr = jac[j] + col0;
                const double* mr = mas[j];
                double* er = e2_re[j];
                double* ei = e2_im[j];
                for (int i = 0; i < nm1; ++i) {
                    er[i] = alphn * mr[i] - jr[i];
                    ei[i] = betan * mr[i];
                }
            }
            break;
        case 7:
            // the Jacobian was brought to Hessenberg form by decompose_real
            for (int i = 0; i < n - 1; ++i) {
                e2_re[i + 1][i] = -jac[i + 1][i];
                e2_im[i + 1][i] = 0.0;
            }
            for (int j = 0; j < n; ++j)
                for (int i = j; i < n; ++i) {
                    e2_re[j][i] = -jac[j][i];
                    e2_im[j][i] = 0.0;
                }
            for (int i = 0; i < n; ++i) {
                e2_re[i][i] = e2_re[i][i] + alphn;
                e2_im[i][i] = betan;
            }
            return decompose_hessenberg_complex(n, e2_re.ptr(), e2_im.ptr(), 1,
                                                pivots_complex.data());
    }

    if (ijob > 10) {
        // complex twin of the second-order correction, dividing by (alpha + i beta)
        const int mm = m1 / m2;
        const double abno = alphn * alphn + betan * betan;
        const double alp = alphn / abno;
        const double bet = betan / abno;
        for (int i = 0; i < m2; ++i) {
            for (int j = 0; j < jac_rows; ++j) {
                double sumr = 0.0;
                double sumi = 0.0;
                for (int k = 0; k < mm; ++k) {
                    const double sums = sumr + jac[j][i + k * m2];
                    sumr = sums * alp + sumi * bet;
                    sumi = sumi * alp - sums * bet;
                }
                double& er = banded_jacobian ? e2_re[i][j + jac_lower] : e2_re[j][i];
                double& ei = banded_jacobian ? e2_im[i][j + jac_lower] : e2_im[j][i];
                er = er - sumr;
                ei = ei - sumi;
            }
        }
    }
    if (banded_jacobian)
        return decompose_band_complex(nm1, e2_re.ptr(), e2_im.ptr(), jac_lower, jac_upper,
                                      pivots_complex.data());
    return decompose_full_complex(nm1, e2_re.ptr(), e2_im.ptr(), pivots_complex.data());
}

// ---------------------------------------------------------------------------------------
// Solves with the decomposed iteration matrices

void StiffIntegratorT::real_solve(double* b) {
    if (ijob == 7) {
        solve_hessenberg(n, e1.ptr(), 1, b, pivots_real.data());
    } else if (banded_jacobian) {
        solve_band(reduced_n, e1.ptr(), jac_lower, jac_upper, b, pivots_real.data());
    } else {
        solve_full(reduced_n, e1.ptr(), b, pivots_real.data());
    }
}

void StiffIntegratorT::complex_solve(double* br, double* bi) {
    if (ijob == 7) {
        solve_hessenberg_complex(n, e2_re.ptr(), e2_im.ptr(), 1, br, bi, pivots_complex.data());
    } else if (banded_jacobian) {
        solve_band_complex(reduced_n, e2_re.ptr(), e2_im.ptr(), jac_lower, jac_upper, br, bi,
                           pivots_complex.data());
    } else {
        solve_full_complex(reduced_n, e2_re.ptr(), e2_im.ptr(), br, bi, pivots_complex.data());
    }
}

// The Hessenberg reduction is H = S^-1 J S with S = P_1 L_1 P_2 L_2 ... P_{n-2} L_{n-2}
// (P_m the interchange of step m, L_m the elementary transform whose multipliers sit in
// column m-1 below the sub-diagonal). (gamma I - J) x = b becomes
// (gamma I - H) (S^-1 x) = S^-1 b: S^-1 applies P_1, L_1^-1, P_2, ... in increasing m,
// and S applies L_{n-2}, P_{n-2}, ..., L_1, P_1 in decreasing m.
void StiffIntegratorT::into_hessenberg_basis(double* v) {
    for (int mp = 1; mp <= n - 2; ++mp) {
        const int i = hessenberg_swaps[mp];
        if (i != mp) std::swap(v[mp], v[i]);
        const double vm = v[mp];
        for (int r = mp + 1; r < n; ++r) v[r] = v[r] - jac[r][mp - 1] * vm;
    }
}

void StiffIntegratorT::out_of_hessenberg_basis(double* v) {
    for (int mp = n - 2; mp >= 1; --mp) {
        const double vm = v[mp];
        for (int r = mp + 1; r < n; ++r) v[r] = v[r] + jac[r][mp - 1] * vm;
        const int i = hessenberg_swaps[mp];
        if (i != mp) std::swap(v[mp], v[i]);
    }
}

// Second-order structure: the first m1 unknowns are eliminated from the stage systems. The
// recursion over the blocks k = mm-1 .. 0 divides by gamma (real system) and by
// alpha + i beta (complex system); v2, v3 may be null when only the real system is solved.
void StiffIntegratorT::add_second_order_terms(double* v1, double* v2, double* v3) {
    const double fac1 = gamma_h;
    const double alphn = alpha_h;
    const double betan = beta_h;
    const double abno = alphn * alphn + betan * betan;
    const int mm = m1 / m2;
    for (int j = 0; j < m2; ++j) {
        double sum1 = 0.0;
        double sum2 = 0.0;
        double sum3 = 0.0;
        for (int k = mm - 1; k >= 0; --k) {
            const int q = j + k * m2;
            sum1 = (v1[q] + sum1) / fac1;
            if (v2 != nullptr) {
                const double sh = (v2[q] + sum2) / abno;
                const double ss = (v3[q] + sum3) / abno;
                sum2 = sh * alphn + ss * betan;
                sum3 = ss * alphn - sh * betan;
            }
            int rlo = 0;
            int rhi = reduced_n;
            int shift = 0;  // storage row of J(r, q) is r + shift
            if (banded_jacobian) {
                rlo = std::max(0, j - jac_upper);
                rhi = std::min(reduced_n, j + jac_lower + 1);
                shift = jac_upper - j;
            }
            for (int r = rlo; r < rhi; ++r) {
                const double jrq = jac[r + shift][q];
                v1[m1 + r] = v1[m1 + r] + jrq * sum1;
                if (v2 != nullptr) {
                    v2[m1 + r] = v2[m1 + r] + jrq * sum2;
                    v3[m1 + r] = v3[m1 + r] + jrq * sum3;
                }
            }
        }
    }
}

void StiffIntegratorT::finish_second_order(double* v1, double* v2, double* v3) {
    const double fac1 = gamma_h;
    const double alphn = alpha_h;
    const double betan = beta_h;
    const double abno = alphn * alphn + betan * betan;
    for (int i = m1 - 1; i >= 0; --i) {
        v1[i] = (v1[i] + v1[m2 + i]) / fac1;
        if (v2 != nullptr) {
            const double s2 = v2[i] + v2[m2 + i];
            const double s3 = v3[i] + v3[m2 + i];
            v3[i] = (s3 * alphn - s2 * betan) / abno;
            v2[i] = (s2 * alphn + s3 * betan) / abno;
        }
    }
}

// out[m1 + i] = sum over j of M(i, j) v[m1 + j], M of order reduced_n, full or banded
void StiffIntegratorT::mass_times(const double* v, double* out) {
    const int base = ijob > 10 ? ijob - 10 : ijob;
    for (int i = 0; i < reduced_n; ++i) {
        double sum = 0.0;
        if (base == 5) {
            const double* mr = mas[i];
            for (int j = 0; j < reduced_n; ++j) sum = sum + mr[j] * v[m1 + j];
        } else {
            const int jlo = std::max(0, i - mass_lower);
            const int jhi = std::min(reduced_n, i + mass_upper + 1);
            for (int j = jlo; j < jhi; ++j) sum = sum + mas[i - j + mass_upper][j] * v[m1 + j];
        }
        out[m1 + i] = sum;
    }
}

int StiffIntegratorT::solve_stages() {
    if (!is_supported(ijob)) return unsupported_case();
    const double fac1 = gamma_h;
    const double alphn = alpha_h;
    const double betan = beta_h;
    const int base = ijob > 10 ? ijob - 10 : ijob;
    const bool identity_mass = base == 1 || base == 2 || base == 7;
    const int plain_rows = identity_mass ? n : m1;
    for (int i = 0; i < plain_rows; ++i) {
        const double s2 = -f2[i];
        const double s3 = -f3[i];
        z1[i] = z1[i] - f1[i] * fac1;
        z2[i] = z2[i] + (s2 * alphn - s3 * betan);
        z3[i] = z3[i] + (s3 * alphn + s2 * betan);
    }
    if (!identity_mass) {
        for (int i = 0; i < reduced_n; ++i) {
            double s1 = 0.0;
            double s2 = 0.0;
            double s3 = 0.0;
            if (base == 5) {
                const double* mr = mas[i];
                for (int j = 0; j < reduced_n; ++j) {
                    const double bb = mr[j];
                    s1 = s1 - bb * f1[m1 + j];
                    s2 = s2 - bb * f2[m1 + j];
                    s3 = s3 - bb * f3[m1 + j];
                }
            } else {
                const int jlo = std::max(0, i - mass_lower);
                const int jhi = std::min(reduced_n, i + mass_upper + 1);
                for (int j = jlo; j < jhi; ++j) {
                    const double bb = mas[i - j + mass_upper][j];
                    s1 = s1 - bb * f1[m1 + j];
                    s2 = s2 - bb * f2[m1 + j];
                    s3 = s3 - bb * f3[m1 + j];
                }
            }
            const int r = m1 + i;
            z1[r] = z1[r] + s1 * fac1;
            z2[r] = z2[r] + (s2 * alphn - s3 * betan);
            z3[r] = z3[r] + (s3 * alphn + s2 * betan);
        }
    }

    if (ijob == 7) {
        into_hessenberg_basis(z1.data());
        into_hessenberg_basis(z2.data());
        into_hessenberg_basis(z3.data());
    }
    if (ijob > 10) add_second_order_terms(z1.data(), z2.data(), z3.data());
    real_solve(z1.data() + m1);
    complex_solve(z2.data() + m1, z3.data() + m1);
    if (ijob == 7) {
        out_of_hessenberg_basis(z1.data());
        out_of_hessenberg_basis(z2.data());
        out_of_hessenberg_basis(z3.data());
    }
    if (ijob > 10) finish_second_order(z1.data(), z2.data(), z3.data());
    return 0;
}

// ---------------------------------------------------------------------------------------
// Local error estimate

int StiffIntegratorT::estimate_error() {
    if (!is_supported(ijob)) return unsupported_case();
    const double sq6 = std::sqrt(6.0);
    const double dd1 = -(13.0 + 7.0 * sq6) / 3.0;
    const double dd2 = (-13.0 + 7.0 * sq6) / 3.0;
    const double dd3 = -1.0 / 3.0;
    const double hee1 = dd1 / h;
    const double hee2 = dd2 / h;
    const double hee3 = dd3 / h;
    const int base = ijob > 10 ? ijob - 10 : ijob;
    const bool identity_mass = base == 1 || base == 2 || base == 7;

    if (identity_mass) {
        for (int i = 0; i < n; ++i) {
            f2[i] = hee1 * z1[i] + hee2 * z2[i] + hee3 * z3[i];
            cont[i] = f2[i] + f_start[i];
        }
    } else {
        for (int i = 0; i < n; ++i) f1[i] = hee1 * z1[i] + hee2 * z2[i] + hee3 * z3[i];
        for (int i = 0; i < m1; ++i) f2[i] = f1[i];
        mass_times(f1.data(), f2.data());
        for (int i = 0; i < n; ++i) cont[i] = f2[i] + f_start[i];
    }

    auto solve_error_system = [this]() {
        double* v = cont.data();
        if (ijob == 7) into_hessenberg_basis(v);
        if (ijob > 10) add_second_order_terms(v, nullptr, nullptr);
        real_solve(v + m1);
        if (ijob == 7) out_of_hessenberg_basis(v);
        if (ijob > 10) finish_second_order(v, nullptr, nullptr);
    };
    auto weighted_norm = [this]() {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double r = cont[i] / scale[i];
            sum = sum + r * r;
        }
        return std::max(std::sqrt(sum / n), 1e-10);
    };

    solve_error_system();
    error_norm = weighted_norm();
    if (error_norm >= 1.0 && (first_step || rejected)) {
        // A large first estimate on a first or retried step is often a stiff component
        // that the estimate overweights; one more evaluation at y + err filters it.
        for (int i = 0; i < n; ++i) cont[i] = y[i] + cont[i];
        system_.rhs(x, cont.data(), f1.data());
        ++function_calls;
        for (int i = 0; i < n; ++i) cont[i] = f1[i] + f2[i];
        solve_error_system();
        error_norm = weighted_norm();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Step loop

int StiffIntegratorT::run_steps() {
    compute_method_constants();
    const auto un = static_cast<std::size_t>(n);

    if (x_end == x) {
        // An empty interval is reached at once; the step-size rules below would divide by
        // its zero length.
        if (output_mode != 0) {
            std::copy(y, y + n, cont.begin());
            if (system_.output(*this) < 0) {
                exit_message(x);
                return kStoppedByOutput;
            }
        }
        return kReachedEnd;
    }

    const double posneg = std::fabs(x_end - x) / (x_end - x);
    const double hmaxn = std::min(std::fabs(h_max), std::fabs(x_end - x));
    const double cfac = safe * (1 + 2 * nit);
    if (has_mass) system_.mass(mas.ptr());

    h = posneg * std::min(std::fabs(h), hmaxn);
    h_old = h;
    bool last = false;
    if ((x + 1.0001 * h - x_end) * posneg >= 0.0) {
        h = x_end - x;
        last = true;
    }
    double hopt = h;
    double faccon = 1.0;

    if (output_mode != 0) {
        std::copy(y, y + n, cont.begin());
        if (system_.output(*this) < 0) {
            exit_message(x);
            return kStoppedByOutput;
        }
    }
    compute_scale();

    double hhfac = h;
    system_.rhs(x, y, f_start.data());
    ++function_calls;
    int nsing = 0;
    compute_jacobian();

    double theta = std::fabs(thet);
    double thqold = 0.0;
    double dynold = 0.0;
    double hnew = h;
    double quot = 1.0;
    double hacc = 0.0;
    double erracc = 0.0;
    bool decompose = true;

    for (;;) {
        if (decompose) {
            gamma_h = u1_ / h;
            alpha_h = alpha_ / h;
            beta_h = beta_ / h;
            int ier = decompose_real();
            if (ier == 0) ier = decompose_complex();
            if (ier == -1) return kUnsupportedCase;
            if (ier != 0) {
                ++nsing;
                if (nsing >= 5) {
                    exit_message(x);
                    print_line(" matrix is repeatedly singular, ier= ", ier);
                    return kRepeatedlySingular;
                }
                h = h / 2.0;
                hhfac = 0.5;
                rejected = true;
                last = false;
                if (!jacobian_current) compute_jacobian();
                continue;
            }
            ++decompositions;
        }
        decompose = true;

        // ---- one step attempt
        ++steps;
        if (steps >= nmax) {
            exit_message(x);
            print_line(" more than nmax = ", nmax, " steps are needed");
            return kTooManySteps;
        }
        if (0.1 * std::fabs(h) <= std::fabs(x) * uround) {
            exit_message(x);
            print_line(" step size too small, h = ", h);
            return kStepTooSmall;
        }
        // algebraic components of index 2 and 3 are weighted by h and h^2
        if (nind2 != 0)
            for (int i = nind1; i < nind1 + nind2; ++i) scale[i] = scale[i] / hhfac;
        if (nind3 != 0)
            for (int i = nind1 + nind2; i < nind1 + nind2 + nind3; ++i)
                scale[i] = scale[i] / (hhfac * hhfac);
        const double xph = x + h;

        // starting values: zero, or the last collocation polynomial extrapolated
        if (first_step || zero_start) {
            for (auto* v : {&z1, &z2, &z3, &f1, &f2, &f3}) std::fill(v->begin(), v->end(), 0.0);
        } else {
            const double c3q = h / h_old;
            const double c1q = c1_ * c3q;
            const double c2q = c2_ * c3q;
            for (std::size_t i = 0; i < un; ++i) {
                const double ak1 = cont[un + i];
                const double ak2 = cont[2 * un + i];
                const double ak3 = cont[3 * un + i];
                z1[i] = c1q * (ak1 + (c1q - c2m1_) * (ak2 + (c1q - c1m1_) * ak3));
                z2[i] = c2q * (ak1 + (c2q - c2m1_) * (ak2 + (c2q - c1m1_) * ak3));
                z3[i] = c3q * (ak1 + (c3q - c2m1_) * (ak2 + (c3q - c1m1_) * ak3));
            }
            apply_3x3(kTI, z1.data(), z2.data(), z3.data(), f1.data(), f2.data(), f3.data(), n);
        }

        // simplified Newton iteration
        int newt = 0;
        faccon = std::pow(std::max(faccon, uround), 0.8);
        theta = std::fabs(thet);
        bool newton_failed = false;
        bool newton_too_slow = false;
        for (;;) {
            if (newt >= nit) {
                newton_failed = true;
                break;
            }
            for (std::size_t i = 0; i < un; ++i) cont[i] = y[i] + z1[i];
            system_.rhs(x + c1_ * h, cont.data(), z1.data());
            for (std::size_t i = 0; i < un; ++i) cont[i] = y[i] + z2[i];
            system_.rhs(x + c2_ * h, cont.data(), z2.data());
            for (std::size_t i = 0; i < un; ++i) cont[i] = y[i] + z3[i];
            system_.rhs(xph, cont.data(), z3.data());
            function_calls += 3;
            apply_3x3(kTI, z1.data(), z2.data(), z3.data(), z1.data(), z2.data(), z3.data(), n);

            if (solve_stages() == -1) return kUnsupportedCase;
            ++solves;
            ++newt;

            double dyno = 0.0;
            for (std::size_t i = 0; i < un; ++i) {
                const double denom = scale[i];
                const double d1 = z1[i] / denom;
                const double d2 = z2[i] / denom;
                const double d3 = z3[i] / denom;
                dyno = dyno + (d1 * d1 + d2 * d2 + d3 * d3);
            }
            dyno = std::sqrt(dyno / (3 * n));

            if (newt > 1 && newt < nit) {
                const double thq = dyno / dynold;
                theta = newt == 2 ? thq : std::sqrt(thq * thqold);
                thqold = thq;
                if (theta >= 0.99) {
                    newton_failed = true;
                    break;
                }
                faccon = theta / (1.0 - theta);
                const double dyth = faccon * dyno * std::pow(theta, nit - 1 - newt) / fnewt;
                if (dyth >= 1.0) {
                    // convergence too slow for this h: retry with the h it would allow
                    const double qnewt = std::max(1e-4, std::min(20.0, dyth));
                    hhfac = 0.8 * std::pow(qnewt, -1.0 / (4 + nit - 1 - newt));
                    h = hhfac * h;
                    rejected = true;
                    last = false;
                    if (!jacobian_current) compute_jacobian();
                    newton_too_slow = true;
                    break;
                }
            }
            dynold = std::max(dyno, uround);
            for (std::size_t i = 0; i < un; ++i) {
                f1[i] = f1[i] + z1[i];
                f2[i] = f2[i] + z2[i];
                f3[i] = f3[i] + z3[i];
            }
            apply_3x3(kT, f1.data(), f2.data(), f3.data(), z1.data(), z2.data(), z3.data(), n);
            if (!(faccon * dyno > fnewt)) break;
        }
        if (newton_too_slow) continue;
        if (newton_failed) {
            h = h / 2.0;
            hhfac = 0.5;
            rejected = true;
            last = false;
            if (!jacobian_current) compute_jacobian();
            continue;
        }

        if (estimate_error() == -1) return kUnsupportedCase;
        const double fac = std::min(safe, cfac / (newt + 2 * nit));
        quot = std::max(facr, std::min(facl, std::pow(error_norm, 0.25) / fac));
        hnew = h / quot;

        if (!(error_norm < 1.0)) {
            rejected = true;
            last = false;
            if (first_step) {
                h = 0.1 * h;
                hhfac = 0.1;
            } else {
                hhfac = hnew / h;
                h = hnew;
            }
            if (accepted_steps >= 1) ++rejected_steps;
            if (!jacobian_current) compute_jacobian();
            continue;
        }

        // ---- step accepted
        first_step = false;
        ++accepted_steps;
        if (predictive) {
            // predictive controller: also uses the size and error of the previous step
            if (accepted_steps > 1) {
                double facgus =
                    (hacc / h) * std::pow(error_norm * error_norm / erracc, 0.25) / safe;
                facgus = std::max(facr, std::min(facl, facgus));
                quot = std::max(quot, facgus);
                hnew = h / quot;
            }
            hacc = h;
            erracc = std::max(0.01, error_norm);
        }
        x_old = x;
        h_old = h;
        x = xph;
        for (std::size_t i = 0; i < un; ++i) {
            y[i] = y[i] + z3[i];
            const double z1i = z1[i];
            const double z2i = z2[i];
            cont[un + i] = (z2i - z3[i]) / c2m1_;
            const double ak = (z1i - z2i) / c1mc2_;
            const double acont3 = (ak - z1i / c1_) / c2_;
            cont[2 * un + i] = (ak - cont[un + i]) / c1m1_;
            cont[3 * un + i] = cont[2 * un + i] - acont3;
        }
        compute_scale();
        if (output_mode != 0) {
            std::copy(y, y + n, cont.begin());
            if (system_.output(*this) < 0) {
                exit_message(x);
                return kStoppedByOutput;
            }
        }
        jacobian_current = false;
        if (last) {
            h = hopt;
            return kReachedEnd;
        }
        system_.rhs(x, y, f_start.data());
        ++function_calls;
        hnew = posneg * std::min(std::fabs(hnew), hmaxn);
        hopt = std::min(h, hnew);
        if (rejected) hnew = posneg * std::min(std::fabs(hnew), std::fabs(h));
        rejected = false;
        if ((x + hnew / quot1 - x_end) * posneg >= 0.0) {
            h = x_end - x;
            last = true;
        } else {
            const double qt = hnew / h;
            hhfac = h;
            if (theta <= thet && qt >= quot1 && qt <= quot2) {
                decompose = false;  // same h, Jacobian and decompositions
                continue;
            }
            h = hnew;
        }
        hhfac = h;
        if (theta > thet) compute_jacobian();
    }
}
