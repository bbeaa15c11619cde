"""Runs the ionophore membrane of examples/, then again in a sample with a 0.1 M Na+
background instead of 1 mM, and plots both calibration curves with their fitted lines.

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

runs = {"1 mM Na+": problem.run()}
salty = problem.copy()
salty.components[2].left = 100  # mol/m^3 of Na+ (component 3) in the sample
salty.components[1].left += 99  # and of Cl-, which keeps the sample neutral
runs["0.1 M Na+"] = salty.run()

for label, result in runs.items():
    c = result.concentrations / 1000  # mol/m^3 -> mol/L
    (line,) = plt.semilogx(c, result.final_potentials, "o", label=label)
    fit = result.calibration
    if not fit or not fit["linear_points"]:
        print(f"{label}: {result.status}; no calibration line: {fit['note'] if fit else ''}")
        continue
    error = f" +/- {fit['slope_error']:.2f}" if fit["slope_error"] is not None else ""
    limit = (f"{fit['detection_limit']:.3g} mol/L" if fit["detection_limit"] is not None
             else "not found")
    print(f"{label}: {result.status}; slope {fit['slope']:.2f}{error} mV/decade over points "
          f"{fit['linear_points']}, detection limit {limit}")
    plt.semilogx(c, fit["intercept"] + fit["slope"] * np.log10(c), "--", color=line.get_color())
plt.xlabel("K$^+$ in the sample [mol/L]")
plt.ylabel("E [mV]")
plt.legend()
plt.savefig("calibration.png", dpi=150)
