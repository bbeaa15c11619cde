"""Fits one rate constant to a calibration curve.

A synthetic "measured" calibration is made with a known forward transfer constant of the
cation at the sample side; scipy then finds that constant again from the final
potentials alone, running the membrane once per trial value and writing no file.

    PYTHONPATH=build/python python3 examples/python/fit_rate_constant.py
"""
import numpy as np
from scipy.optimize import minimize_scalar

import tavoline


def membrane():
    """A cation exchanger (50 mol/m^3 fixed anionic sites, 10 um) between a sample and
    an inner solution of 1 mol/m^3 salt."""
    p = tavoline.Problem()
    p.layers.append(tavoline.Layer(thickness=1e-5, permittivity=1e-10, cells=40, debye_cells=4))
    p.duration = 10  # s per calibration point
    cation = tavoline.Component(name="M+", charge=1, diffusivity=[1e-11], left=0.01,
                                initial=[50], right=1, kif=[1e-3, 1e-3], kib=[1e-3, 1e-3])
    anion = tavoline.Component(name="X-", charge=-1, diffusivity=[1e-11], left=0.01,
                               initial=[0], right=1, kif=[1e-3, 1e-3], kib=[1e-3, 1e-3])
    sites = tavoline.Component(name="R-", charge=-1, diffusivity=[0], initial=[50],
                               kif=[0, 0], kib=[0, 0])
    p.components.extend([cation, anion, sites])
    p.multipliers = [1, 10, 100]
    return p


def potentials(p, kif):
    """Final potentials [mV] with the cation's sample-side transfer constant `kif` [m/s]."""
    p.components[0].kif = [kif, 1e-3]
    # The grid of one Debye length is fixed: every trial runs on the same grid, so the
    # objective is smooth in kif.
    return p.run(debye_grid=True).final_potentials


def main(plot=True):
    p = membrane()
    true = 3e-3
    measured = potentials(p, true)

    def misfit(log_kif):
        return float(np.sum((potentials(p, 10.0 ** log_kif) - measured) ** 2))

    fit = minimize_scalar(misfit, bounds=(-4, -1), method="bounded", options={"xatol": 1e-7})
    found = 10.0 ** fit.x
    print(f"kif = {found:.6g} m/s (true {true:g}) after {fit.nfev} runs")
    if plot:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        c = p.run(debye_grid=True).concentrations
        plt.semilogx(c, measured, "o", label="synthetic measurement")
        plt.semilogx(c, potentials(p, found), "-", label=f"fit, kif = {found:.4g} m/s")
        plt.xlabel("sample concentration [mol/m$^3$]")
        plt.ylabel("E [mV]")
        plt.legend()
        plt.savefig("fit_rate_constant.png", dpi=150)
    return found, true


if __name__ == "__main__":
    main()
