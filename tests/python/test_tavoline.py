"""The Python package against the program: same numbers, named errors, no files."""
import json
import os
import resource
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tavoline

EXAMPLES = Path(os.environ["TAVOLINE_EXAMPLES"])
DATA = Path(__file__).resolve().parent.parent / "data"
PROGRAM = os.environ["TAVOLINE_EXE"]
sys.path.insert(0, str(EXAMPLES / "python"))


def program_potentials(tmp_path, name, *args):
    """Final potentials [mV] of the program's run of examples/NAME.cci, from summary.json."""
    shutil.copy(EXAMPLES / f"{name}.cci", tmp_path)
    subprocess.run([PROGRAM, name, "-q", *args], cwd=tmp_path, check=True,
                   stdout=subprocess.DEVNULL)
    summary = json.loads((tmp_path / name / "summary.json").read_text())
    return [p["final_potential_mV"] for p in summary["points"]]


def small_problem():
    """A cation exchanger between two salt solutions; about 0.1 s per run."""
    p = tavoline.Problem()
    p.layers.append(tavoline.Layer(thickness=1e-5, permittivity=1e-10, cells=40, debye_cells=4))
    p.duration = 10
    for charge, conc, rates, d in ((1, [0.01, 50, 1], 1e-3, 1e-11),
                                   (-1, [0.01, 0, 1], 1e-3, 1e-11),
                                   (-1, [0, 50, 0], 0.0, 1e-13)):
        p.components.append(tavoline.Component(
            charge=charge, diffusivity=[d], left=conc[0], initial=[conc[1]], right=conc[2],
            kif=[rates, rates], kib=[rates, rates]))
    p.multipliers = [1, 10, 100]
    return p


def ionophore_by_fields():
    """examples/ionophore.cci, field by field."""
    p = tavoline.Problem()
    p.name = "ionophore"
    p.layers.append(tavoline.Layer(thickness=1e-5, permittivity=4.4e-11, complexing=2,
                                   cells=40, debye_cells=3))
    p.duration = 1000
    p.changed_ion, p.opposite_ion = 1, 2
    p.multipliers = [1, 0.1, 0.01, 0.001, 1e-4, 1e-5, 1e-6]
    p.atol, p.rtol = 1e-12, 1e-6
    C = tavoline.Component
    p.components.extend([
        C(name="K+", charge=1, diffusivity=[1e-11], left=10, initial=[0.01], right=10,
          kif=[1e-3, 1], kib=[1, 1e-3], ligand=5, complex=6, kas=[100], kdis=[1]),
        C(name="Cl-", charge=-1, diffusivity=[1e-11], left=11, initial=[0.01], right=10,
          kif=[1e-3, 1], kib=[1, 1e-3]),
        C(name="Na+", charge=1, diffusivity=[1e-11], left=1, initial=[0], right=0,
          kif=[1e-5, 0], kib=[1, 0]),
        C(name="R-", charge=-1, diffusivity=[0], initial=[10], kif=[0, 0], kib=[0, 0]),
        C(name="L", charge=0, diffusivity=[1e-11], initial=[10], kif=[0, 0], kib=[0, 0]),
        C(name="KL+", charge=1, diffusivity=[1e-11], initial=[10], kif=[0, 0], kib=[0, 0]),
    ])
    return p


def test_same_numbers_as_the_program_bit_for_bit(tmp_path):
    # A file read as it is, on the automatic grid and on the Debye-length grid, and the
    # ionophore membrane built by named fields: the same doubles as the program's
    # summary.json (written with round-trip precision).
    for sub in ("b", "d", "i"):
        (tmp_path / sub).mkdir()
    read = tavoline.Problem.from_file(str(EXAMPLES / "b.cci"))
    converged = read.run()
    assert list(converged.final_potentials) == program_potentials(tmp_path / "b", "b")
    assert converged.status == "finished" and converged.warnings == []
    coarse = read.run(debye_grid=True)
    assert list(coarse.final_potentials) == program_potentials(tmp_path / "d", "b", "--debye-grid")
    assert coarse.calibration["linear_points"] == [] and coarse.calibration["slope"] is None
    built = ionophore_by_fields().run(debye_grid=True)
    assert list(built.final_potentials) == \
        program_potentials(tmp_path / "i", "ionophore", "--debye-grid")
    # No study judged the Debye-length grid, and every point says so.
    assert [p.status for p in built.points] == ["finished with warnings"] * 7
    assert all(p.warnings == [built.points[0].warnings[0]] for p in built.points)
    assert built.points[0].warnings[0].startswith("grid not checked: ")
    assert built.warnings[6] == "point 7: " + built.points[6].warnings[0]
    assert built.concentrations[1] == pytest.approx(1.0)  # mol/m^3: 0.1 x 10 mol/m^3


def test_a_bad_field_raises_with_its_name():
    p = small_problem()
    p.components[1].diffusivity = [-1e-11]
    with pytest.raises(tavoline.InputError) as caught:
        p.validate()
    assert caught.value.field == "components[1].diffusivity"
    assert "`D` of component 2" in str(caught.value) and caught.value.value == "-1e-11"
    p = small_problem()
    p.components[0].kif = [1e-3]  # one interface short
    with pytest.raises(tavoline.InputError) as caught:
        p.run()
    assert caught.value.field == "components[0].kif"
    # Transfer constants that would hold K+ at mol/L at the membrane's edge: outside the
    # dilute range, refused at the line of the file and by the field of a built problem.
    with pytest.raises(tavoline.InputError) as caught:
        tavoline.Problem.from_file(str(DATA / "bad_dilute_range.cci"))
    assert caught.value.line == 29
    assert "at interface 1 (between layer 1 and the right solution)" in str(caught.value)
    assert "to 10000 mol/m^3 (10 mol/L), 1000 times its 10 mol/m^3" in str(caught.value)
    p = small_problem()
    p.components[0].kif = [10, 1e-3]  # 1 mol/m^3 in the sample, 1e4 times that at the edge
    with pytest.raises(tavoline.InputError) as caught:
        p.run()
    assert caught.value.field == "components[0].kif"
    assert "(`Kif` 10 m/s, `Kib` 0.001 m/s)" in str(caught.value)
    with pytest.raises(ValueError, match="method"):
        p.method = "voltammetry"
    with pytest.raises(ValueError, match="read-only"):
        p.components[0].kif[0] = 1.0  # a silently lost assignment is refused
    with pytest.raises(tavoline.InputError) as caught:
        tavoline.Problem.from_text("#TAV02\n")
    assert caught.value.line == 1 and caught.value.file == "problem"
    p = small_problem()
    p.components[0].kas = [1e3]  # binds no ligand: the constant would be dropped unread
    with pytest.raises(tavoline.InputError) as caught:
        p.validate()
    assert caught.value.field == "components[0].kas"


def test_a_file_that_is_not_utf8_is_an_input_error_that_decodes(tmp_path):
    # A Latin-1 degree sign after the temperature: the message shows the byte escaped.
    text = (EXAMPLES / "b.cci").read_bytes().replace(b"\n298.15\n", b"\n298.15\xb0K\n")
    (tmp_path / "f.cci").write_bytes(text)
    with pytest.raises(tavoline.InputError) as caught:
        tavoline.Problem.from_file(str(tmp_path / "f.cci"))
    assert "\\xB0" in str(caught.value) and caught.value.line > 0


def test_run_options_and_names_are_refused_as_the_program_refuses_them(tmp_path, monkeypatch):
    p = small_problem()
    for options, message in (
            (dict(accuracy=float("nan")), "--accuracy nan: expected a positive, finite number of mV"),
            (dict(accuracy=-1), "--accuracy -1: expected a positive, finite number of mV"),
            (dict(threads=-1), "--threads -1: expected a whole number of at least 1"),
            (dict(linear_range=(3, 2)), "--linear-range 3:2: expected FROM:TO, 1 <= FROM < TO"),
            (dict(impedance="fast"), "--impedance fast: expected step, linear or both")):
        with pytest.raises(tavoline.InputError) as caught:
            p.run(**options)
        assert str(caught.value) == message
        assert caught.value.field == next(iter(options))
    # A run that writes makes NAME/ here: nothing outside, nothing renamed.
    work = tmp_path / "work"
    work.mkdir()
    monkeypatch.chdir(work)
    for name in ("../escape", "..", ".", "a/b", ""):
        p.name = name
        with pytest.raises(tavoline.InputError) as caught:
            p.run(write_files=True, debye_grid=True)
        assert caught.value.field == "name"
    assert sorted(tmp_path.iterdir()) == [work] and list(work.iterdir()) == []


def test_a_run_returns_arrays_and_a_complete_dict():
    r = small_problem().run()
    assert r.status == "finished" and r.exit_code == 0 and r.grid["converged"]
    point = r.points[2]
    assert point.time[-1] == pytest.approx(10) and point.potential.shape == point.time.shape
    profiles = point.profiles
    assert profiles["concentration"].shape == (3, profiles["x"].size)
    # Electroneutral in the middle of the membrane, far from both space-charge layers.
    middle = profiles["concentration"][:, profiles["x"].size // 2]
    assert abs(middle @ [1, -1, -1]) < 1e-6 * middle.max()
    d = r.to_dict()
    assert json.dumps(d, default=lambda a: a.tolist())  # plain data throughout
    assert d["points"][0]["final_potential"] == r.points[0].final_potential


def test_a_run_reads_its_own_copy_while_another_thread_changes_the_problem():
    import threading
    p = small_problem()
    p.multipliers = [1, 10]
    inert = tavoline.Component(charge=0, diffusivity=[1e-11], kif=[0, 0], kib=[0, 0], initial=[0])
    expected = [list(p.run(debye_grid=True).final_potentials)]
    p.components.append(inert)
    expected.append(list(p.run(debye_grid=True).final_potentials))
    p.components.pop()
    stop = threading.Event()

    def change():  # between two whole problems, the second with one more component
        while not stop.is_set():
            p.components.append(inert)
            p.components.pop()
    changer = threading.Thread(target=change)
    changer.start()
    try:
        runs = [p.run(debye_grid=True) for _ in range(10)]
    finally:
        stop.set()
        changer.join()
    # every run is that of one of the two whole problems, bit for bit
    assert all(list(r.final_potentials) in expected for r in runs)


def test_a_loop_of_runs_leaves_no_files_and_keeps_its_memory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    p = small_problem()
    p.multipliers = [1, 10]
    for _ in range(20):
        p.run(debye_grid=True)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for i in range(80):
        p.components[0].left = 0.01 * (1 + i / 80)
        p.run(debye_grid=True)
    grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before  # kB
    assert list(tmp_path.iterdir()) == []
    assert grown < 4096  # a leak of one run's state (~100 kB) would pass this in 40 runs


def test_messages_go_to_the_callable_given():
    lines = []
    small_problem().run(debye_grid=True, messages=lines.append)
    assert any("Calibration analysis" in line for line in lines)


def test_fit_example_recovers_the_rate_constant():
    import fit_rate_constant
    found, true = fit_rate_constant.main(plot=False)
    assert found == pytest.approx(true, rel=1e-3)


def test_the_spectrum_is_in_ohm_square_metres():
    # At the lowest frequency (1.6e-5 Hz, far below the membrane's relaxation) the
    # impedance is the steady change of the potential under the current step over the
    # current density.
    p = tavoline.Problem.from_file(str(EXAMPLES / "eis.cci"))
    for point in p.run(debye_grid=True).points:
        step = point.transient_potential
        steady = abs(step[-1] - step[0]) * 1e-3 / p.current_density  # ohm m^2
        assert point.spectrum["real"][0] == pytest.approx(steady, rel=1e-6)
        assert point.spectrum["frequency"][0] == pytest.approx(1e-4 / (2 * np.pi))


def test_the_linear_spectrum_alone_and_beside_the_step_one():
    p = tavoline.Problem.from_file(str(EXAMPLES / "eis.cci"))
    for point in p.run(debye_grid=True, impedance="linear").points:  # no current step
        linear = point.linear_spectrum
        assert point.spectrum is None and point.transient_time.size == 0
        assert linear["frequency"].size == linear["imaginary"].size == 2777
        assert np.isfinite(linear["real"][0]) and linear["real"][0] > 0
        assert linear["agreement"] is None and linear["failure"] == ""
    # With both, the reported largest difference is that of the two spectra as returned.
    for point in p.run(debye_grid=True, impedance="both").points:
        step, linear, agreement = point.spectrum, point.linear_spectrum, \
            point.linear_spectrum["agreement"]
        assert np.array_equal(step["frequency"], linear["frequency"])
        k = np.argmin(abs(2 * np.pi * linear["frequency"] - agreement["at_omega"]))
        z_step, z_linear = (s["real"][k] - 1j * s["imaginary"][k] for s in (step, linear))
        assert abs(z_step - z_linear) / abs(z_linear) == \
            pytest.approx(agreement["largest_difference"], rel=1e-9)
        assert agreement["band_low"] == pytest.approx(10 / p.duration)


def test_ctrl_c_stops_a_run_and_gives_the_interpreter_its_handler_back():
    import signal
    import threading
    import time
    p = tavoline.Problem.from_file(str(EXAMPLES / "ionophore.cci"))  # about 18 s
    # Runs that other threads start meanwhile neither lose the interrupt nor take it.
    others, done = [], threading.Event()

    def loop():
        while not done.is_set():
            others.append(small_problem().run(debye_grid=True).status)
    worker = threading.Thread(target=loop)
    worker.start()
    threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            p.run()
    finally:
        done.set()
        worker.join()
    assert time.monotonic() - start < 5
    assert others and set(others) == {"finished with warnings"}  # "grid not checked" only
    # The interpreter's own handler is back: Ctrl-C in Python code raises there.
    threading.Timer(0.2, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    with pytest.raises(KeyboardInterrupt):
        time.sleep(5)
