"""Runs the ionophore membrane of examples/, then again with ten times more ionophore, and
plots both calibration curves with their fitted lines.

    PYTHONPATH=build/python python3 examples/python/calibration.py
"""
from pathlib import Path

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import tavoline

here = Path(__file__).resolve().parent
problem = tavoline.Problem.from_file(str(here.parent / "ionophore.cci"))

runs = {"as given": problem.run()}
richer = problem.copy()
ionophore = richer.components[4]  # component 5, the free ionophore L
ionophore.initial = 10 * ionophore.initial  # mol/m^3 of free ionophore, per layer
runs["10 x ionophore"] = richer.run()

for label, result in runs.items():
    c = result.concentrations / 1000  # mol/m^3 -> mol/L
    fit = result.calibration
    print(f"{label}: {result.status}; slope {fit['slope']:.2f} +/- {fit['slope_error']:.2f} "
          f"mV/decade over points {fit['linear_points']}, detection limit "
          f"{fit['detection_limit']:.3g} mol/L")
    (line,) = plt.semilogx(c, result.final_potentials, "o", label=label)
    plt.semilogx(c, fit["intercept"] + fit["slope"] * np.log10(c), "--", color=line.get_color())
plt.xlabel("K$^+$ in the sample [mol/L]")
plt.ylabel("E [mV]")
plt.legend()
plt.savefig("calibration.png", dpi=150)
