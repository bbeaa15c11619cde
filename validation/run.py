#!/usr/bin/env python3
"""Runs every validation case with a built tavoline and compares its results with
references computed here from textbook relations and the parameters of the case's input.

    validation/run.py [BINARY] [--fast] [--keep DIR]

BINARY defaults to build-release/tavoline. Each case runs in a fresh temporary folder (or
in DIR/NAME with --keep). Prints one table row per checked quantity and exits with status 1
when any check fails or a run does not finish. Uses the standard library only.
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# The constants the program's equations carry (Faraday, gas constant).
F = 96485.3     # C/mol
RGAS = 8.314    # J/(mol K)


def read_input(path):
    """The values of a current-form input file that the references need."""
    with open(path) as f:
        lines = f.read().split("\n")
    it = iter(lines[1:])

    def group():
        next(it)  # comment line
        return [float(v) for v in next(it).split()]

    p = {}
    p["model"] = group()[0]
    p["method"], p["current"] = group()
    n = int(group()[0])
    p["n"] = n
    p["d"] = group()
    p["epsilon"] = group()
    group()  # complexing
    p["T"] = group()[0]
    p["tEnd"] = group()[0]
    R = int(group()[0])
    p["calibration"] = [int(v) for v in group()]
    p["multipliers"] = group()
    next(it)  # separator
    comps = []
    for _ in range(R):
        next(it)  # component header

        def labelled():
            return [float(v) for v in next(it).split(":", 1)[1].split()]

        c = {"D": labelled(), "z": int(labelled()[0])}
        conc = labelled()
        c["cL"], c["cM"], c["cR"] = conc[0], conc[1:-1], conc[-1]
        c["Kif"], c["Kib"] = labelled(), labelled()
        if labelled()[0] > 0:
            raise ValueError(f"{path}: complexation is not used by the validation cases")
        comps.append(c)
    p["components"] = comps
    next(it)  # separator
    for key in ("tolerances", "scales", "grid_type", "N"):
        p[key] = group()
    p["N"] = [int(v) for v in p["N"]]
    return p


def thermal_mV(p):
    return 1000 * RGAS * p["T"] / F


def table(path):
    """Rows of numbers of a result table, its header line dropped."""
    with open(path) as f:
        return [[float(v) for v in line.split()] for line in f.read().splitlines()[1:] if line]


def layer_rows(rows, p, extra):
    """Splits profile rows into layers of N+extra rows each."""
    out, at = [], 0
    for N in p["N"]:
        out.append(rows[at:at + N + extra])
        at += N + extra
    return out


def point_folder(run, summary, index):
    return os.path.join(run, summary["points"][index]["folder"])


# ---------------------------------------------------------------------------------------
# References and results, one function per case. Each returns a list of
# (quantity, unit, reference, result) tuples.

def nernst_slope(p, run, summary):
    # Ideal cation-selective membrane: only the counter-ion crosses, its partition is the
    # same at both interfaces, so E = (RT/zF) ln(cL/cR) and the slope per decade of cL is
    # RT ln10 / (zF).
    z = p["components"][p["calibration"][1] - 1]["z"]
    ref = thermal_mV(p) * math.log(10) / z
    x = [math.log10(pt["multiplier"]) for pt in summary["points"]]
    y = [pt["final_potential_mV"] for pt in summary["points"]]
    mx, my = sum(x) / len(x), sum(y) / len(y)
    slope = sum((a - mx) * (b - my) for a, b in zip(x, y)) / sum((a - mx) ** 2 for a in x)
    return [("slope", "mV/decade", ref, slope)]


def henderson(p):
    # Henderson's junction potential phi(right) - phi(left) for linear mixing of the two
    # solutions, with mobilities from D (Nernst-Einstein). It equals Planck's steady
    # constrained-diffusion result for one binary electrolyte at any concentrations and for
    # 1:1 electrolytes of equal total concentration.
    comps = p["components"]
    num = sum(c["z"] * c["D"][0] * (c["cR"] - c["cL"]) for c in comps)
    den = sum(c["z"] ** 2 * c["D"][0] * (c["cR"] - c["cL"]) for c in comps)
    lam_l = sum(c["z"] ** 2 * c["D"][0] * c["cL"] for c in comps)
    lam_r = sum(c["z"] ** 2 * c["D"][0] * c["cR"] for c in comps)
    return -thermal_mV(p) * num / den * math.log(lam_r / lam_l)


def junction(p, run, summary):
    return [("junction potential", "mV", henderson(p), summary["points"][0]["final_potential_mV"])]


def donnan(p, run, summary):
    # Fixed sites of charge -1 at X in equilibrium with a 1:1 salt at c (partition Kif/Kib
    # per ion at the left interface): electroneutrality c+ - c- = X and c+ c- = k+ k- c^2
    # give c+ = X/2 + sqrt(X^2/4 + k+ k- c^2), and the bulk of the layer lies at
    # (RT/F) ln(k+ c / c+) against the left edge.
    cat, an, sites = p["components"]
    k_cat = cat["Kif"][0] / cat["Kib"][0]
    k_an = an["Kif"][0] / an["Kib"][0]
    X, c = sites["cM"][0], cat["cL"]
    c_plus = X / 2 + math.sqrt(X * X / 4 + k_cat * k_an * c * c)
    ref = thermal_mV(p) * math.log(k_cat * c / c_plus)
    rows = table(os.path.join(point_folder(run, summary, 0), "xwyn.dat"))
    middle = rows[p["N"][0] // 2]  # grid point in the middle of the layer (grid type 0)
    return [("Donnan potential", "mV", ref, middle[2])]


def fick_flux(p, run, summary):
    # Steady diffusion through a layer between two stirred solutions with transfer
    # J = K (c_outside - c_edge) at each interface: resistances in series,
    # J = (cL - cR) / (1/K0 + d/D + 1/K1).
    c = p["components"][0]
    for i in (0, 1):
        if c["Kif"][i] != c["Kib"][i]:
            raise ValueError("the flux case needs equal transfer rates in both directions")
    ref = (c["cL"] - c["cR"]) / (1 / c["Kif"][0] + p["d"][0] / c["D"][0] + 1 / c["Kif"][1])
    rows = table(os.path.join(point_folder(run, summary, 0), "xwyn.dat"))
    return [("flux of component 1", "mol/(m2 s)", ref, rows[p["N"][0] // 2][3])]


def closed_stack(p, run, summary):
    # No transfer through the outer interfaces: the amount per area of every component,
    # the sum over layers of thickness times initial concentration, stays as it was.
    folder = point_folder(run, summary, 0)
    xs = layer_rows(table(os.path.join(folder, "xwyn.dat")), p, 1)
    ys = layer_rows(table(os.path.join(folder, "ywyn.dat")), p, 2)
    out = []
    for k, c in enumerate(p["components"]):
        ref = sum(d * cm for d, cm in zip(p["d"], c["cM"]))
        amount = sum((x[i][0] - x[i - 1][0]) * y[i][1 + k]
                     for x, y in zip(xs, ys) for i in range(1, len(x)))
        out.append((f"amount of component {k + 1}", "mol/m2", ref, amount))
    return out


def impedance_bulk(p, run, summary):
    # A uniform electrolyte layer between reversible interfaces is, at high frequency, its
    # bulk resistance R = d/kappa (kappa = F^2/(RT) sum z^2 D c) in parallel with its
    # geometric capacitance C = eps/d, both per area. For that element
    # Z = R/(1 + i w tau), so at any frequency tau = -Im Z/(w Re Z) and
    # R = Re Z (1 + (w tau)^2); they are read at the top of the arc.
    d, eps = p["d"][0], p["epsilon"][0]
    kappa = F * F / (RGAS * p["T"]) * sum(c["z"] ** 2 * c["D"][0] * c["cM"][0]
                                         for c in p["components"])
    rows = table(os.path.join(point_folder(run, summary, 0), "spectrum.dat"))
    thickness = sum(p["d"])  # the file holds impedance per area divided by the thickness
    w, zre, zim = max(rows, key=lambda r: abs(r[2]))
    zre, zim = zre * thickness, -abs(zim) * thickness
    tau = -zim / (w * zre)
    R = zre * (1 + (w * tau) ** 2)
    return [("bulk resistance", "ohm m2", d / kappa, R),
            ("geometric capacitance", "F/m2", eps / d, tau / R)]


# name, check, tolerance (absolute, in the quantity's unit, one per row), fast
CASES = [
    ("nernst_slope", nernst_slope, [0.1], True),
    ("junction_binary", junction, [0.02], True),
    ("junction_2to1", junction, [0.02], True),
    ("junction_biionic", junction, [0.02], True),
    ("donnan", donnan, [0.1], True),
    ("fick_flux", fick_flux, ["1e-5 rel"], True),
    ("closed_stack", closed_stack, ["1e-10 rel", "1e-10 rel"], True),
    ("impedance_bulk", impedance_bulk, ["1e-3 rel", "1e-3 rel"], True),
]


def allowed(tol, ref):
    if isinstance(tol, str):
        return float(tol.split()[0]) * abs(ref)
    return tol


def run_case(binary, name, folder):
    shutil.copy(os.path.join(HERE, name + ".cci"), folder)
    proc = subprocess.run([binary, "-q", name], cwd=folder, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)
    run = os.path.join(folder, name)
    summary_path = os.path.join(run, "summary.json")
    if not os.path.exists(summary_path):
        return None, run, f"exit status {proc.returncode}: {proc.stdout.strip()[-300:]}"
    with open(summary_path) as f:
        summary = json.load(f)
    if proc.returncode != 0 or summary["status"] != "finished":
        return None, run, f"run {summary['status']} (exit status {proc.returncode})"
    return summary, run, None


def grid_in_use(p, summary):
    """The case's N per layer as run: the automatic grid chooses its own."""
    grid = summary.get("grid")
    if grid:
        p["N"] = [layer["N"] for layer in grid["grids"][grid["grid_used"]]["layers"]]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("binary", nargs="?", default="build-release/tavoline")
    ap.add_argument("--fast", action="store_true", help="only the cases fast enough for CI")
    ap.add_argument("--keep", metavar="DIR", help="run in DIR/NAME and keep the results")
    args = ap.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        print(f"no program at {args.binary}", file=sys.stderr)
        return 2

    header = ("case", "quantity", "unit", "reference", "result", "difference", "tolerance",
              "pass")
    rows, failed = [], 0
    for name, check, tols, fast in CASES:
        if args.fast and not fast:
            continue
        with tempfile.TemporaryDirectory(prefix="tavoline-validation-") as tmp:
            folder = os.path.join(args.keep, name) if args.keep else tmp
            os.makedirs(folder, exist_ok=True)
            summary, run, problem = run_case(binary, name, folder)
            if problem:
                rows.append((name, problem, "", "", "", "", "", "FAIL"))
                failed += 1
                continue
            p = read_input(os.path.join(HERE, name + ".cci"))
            grid_in_use(p, summary)
            for (quantity, unit, ref, result), tol in zip(check(p, run, summary), tols):
                ok = abs(result - ref) <= allowed(tol, ref)
                failed += not ok
                rows.append((name, quantity, unit, f"{ref:.6g}", f"{result:.6g}",
                             f"{result - ref:.2g}", f"{allowed(tol, ref):.2g}",
                             "yes" if ok else "FAIL"))

    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    for r in [header] + rows:
        print("| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |")
        if r is header:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    checks = len(rows)
    print(f"validation: {checks - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
