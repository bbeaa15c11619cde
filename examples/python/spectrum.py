"""Plots the impedance spectrum of every point of examples/eis.cci as a Nyquist plot, and
the potential of the first point against time.

    PYTHONPATH=build/python python3 examples/python/spectrum.py
"""
from pathlib import Path

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

import tavoline

here = Path(__file__).resolve().parent
result = tavoline.Problem.from_file(str(here.parent / "eis.cci")).run()
print(result.status, result.warnings)

fig, (nyquist, course) = plt.subplots(1, 2, figsize=(10, 4))
for point in result.points:
    s = point.spectrum
    nyquist.plot(s["real"], s["imaginary"], label=f"point {point.point}")
nyquist.set_xlabel("Z' [ohm m$^2$]")
nyquist.set_ylabel("-Z'' [ohm m$^2$]")
nyquist.set_aspect("equal", adjustable="datalim")
nyquist.legend()
first = result.points[0]
course.semilogx(first.time, first.potential)
course.set_xlabel("t [s]")
course.set_ylabel("E [mV]")
fig.tight_layout()
fig.savefig("spectrum.png", dpi=150)
