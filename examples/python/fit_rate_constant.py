"""Fits one rate constant to a calibration curve.

A synthetic "measured" calibration is made with a known forward transfer constant of the
cation at the sample side; scipy then finds that constant again from the final
potentials alone, running the membrane once per trial value and writing no file.

Every trial runs on one grid, the one the automatic grid converges to for the starting
value, so that the misfit is a smooth function of the constant; the fitted membrane is
then run once more with the grid check, which confirms that its potentials on that grid
are within the target (0.1 mV) of the grid-converged ones.

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


def fix_converged_grid(p):
    """Gives the problem the grid the automatic refinement converges to (one layer)."""
    r = p.run()
    assert r.grid["converged"], r.grid["note"]
    layer = r.grid["grids"][r.grid["used"]][0]
    p.layers[0].cells = layer["cells"]
    p.layers[0].debye_cells = layer["debye_cells"]
    p.first_step = layer["first_step"]


def potentials(p, kif):
    """Final potentials [mV] with the cation's sample-side transfer constant `kif` [m/s],
    on the problem's own grid."""
    p.components[0].kif = [kif, 1e-3]
    return p.run().final_potentials


def main(plot=True):
    p = membrane()
    true = 3e-3
    p.components[0].kif = [1e-3, 1e-3]  # the starting value
    fix_converged_grid(p)
    measured = potentials(p, true)

    def misfit(log_kif):
        return float(np.sum((potentials(p, 10.0 ** log_kif) - measured) ** 2))

    fit = minimize_scalar(misfit, bounds=(-4, -1), method="bounded", options={"xatol": 1e-7})
    found = 10.0 ** fit.x
    print(f"kif = {found:.6g} m/s (true {true:g}) after {fit.nfev} runs")
    p.components[0].kif = [found, 1e-3]
    checked = p.run(check_grid=True)
    print("grid check:", "within the target" if checked.grid_check["converged"]
          else "NOT within the target")
    if plot:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        c = checked.concentrations
        plt.semilogx(c, measured, "o", label="synthetic measurement")
        plt.semilogx(c, potentials(p, found), "-", label=f"fit, kif = {found:.4g} m/s")
        plt.xlabel("sample concentration [mol/m$^3$]")
        plt.ylabel("E [mV]")
        plt.legend()
        plt.savefig("fit_rate_constant.png", dpi=150)
    return found, true


if __name__ == "__main__":
    main()
