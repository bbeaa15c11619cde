// The Python package `tavoline`: problems built and changed by named fields in SI units,
// runs that return numpy arrays, the library's errors as Python exceptions.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl_bind.h>

#include <csignal>
#include <string>

#include "tavoline/tavoline.h"

namespace py = pybind11;
using namespace pybind11::literals;

PYBIND11_MAKE_OPAQUE(std::vector<tavoline::Layer>)
PYBIND11_MAKE_OPAQUE(std::vector<tavoline::Component>)

namespace {

// Set by SIGINT while a run of the main thread holds the interpreter's signal handling: that
// run stops after its current step and its call raises KeyboardInterrupt. Python delivers
// SIGINT to the main thread only, so only the main thread's run reads this flag and only
// that run clears it; a run in another thread has a flag of its own that nothing sets, and
// goes on whatever Ctrl-C does.
volatile std::sig_atomic_t gInterrupt = 0;

extern "C" void on_interrupt(int signal) { gInterrupt = signal; }

// Installs the interrupt handler for the length of one run of the main thread, and restores
// the interpreter's afterwards; the run's stop flag is `flag()`.
class InterruptScope {
  public:
    InterruptScope() {
        const py::object threading = py::module_::import("threading");
        if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return;
        gInterrupt = 0;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        sigemptyset(&action.sa_mask);
        active_ = sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~InterruptScope() {
        if (active_) sigaction(SIGINT, &previous_, nullptr);
    }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
    volatile std::sig_atomic_t* flag() { return active_ ? &gInterrupt : &own_; }
    bool interrupted() const { return active_ && gInterrupt != 0; }

  private:
    bool active_ = false;
    volatile std::sig_atomic_t own_ = 0;
    struct sigaction previous_ {};
};

// Text for Python: every byte sequence that is not UTF-8 (a Latin-1 file name or value in
// a message) shown as \xHH, as the program shows control bytes, so that the text decodes.
std::string decodable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = byte(i);
        std::size_t length = b < 0x80           ? 1
                             : (b >> 5) == 0x6  ? 2
                             : (b >> 4) == 0xE  ? 3
                             : (b >> 3) == 0x1E ? 4
                                                : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) valid = (byte(i + k) & 0xC0) == 0x80;
        if (valid && length > 1) {
            // no overlong forms, surrogates or values beyond U+10FFFF
            const unsigned char c = byte(i + 1);
            valid =
                !(b == 0xC0 || b == 0xC1 || (b == 0xE0 && c < 0xA0) || (b == 0xED && c > 0x9F) ||
                  (b == 0xF0 && c < 0x90) || (b == 0xF4 && c > 0x8F) || b > 0xF4);
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            static const char* digits = "0123456789ABCDEF";
            out += "\\x";
            out += digits[b >> 4];
            out += digits[b & 0xF];
            ++i;
        }
    }
    return out;
}

// Messages of a run passed to a Python callable, the interpreter taken for each.
class CallableSink : public tavoline::MessageSink {
  public:
    explicit CallableSink(py::function f) : f_(std::move(f)) {}
    void write(std::string_view text) override {
        py::gil_scoped_acquire gil;
        f_(py::str(text.data(), text.size()));
    }

  private:
    py::function f_;
};

class DiscardSink : public tavoline::MessageSink {
  public:
    void write(std::string_view) override {}
};

py::array_t<double> array(const std::vector<double>& v) {
    py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// A read-only copy: an element assigned in place would otherwise be lost silently.
py::array_t<double> frozen(const std::vector<double>& v) {
    py::array_t<double> a = array(v);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

py::array_t<double> matrix(const std::vector<std::vector<double>>& rows) {
    const std::size_t cols = rows.empty() ? 0 : rows[0].size();
    py::array_t<double> a({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(cols)});
    auto m = a.mutable_unchecked<2>();
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < cols && j < rows[i].size(); ++j)
            m(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(j)) = rows[i][j];
    return a;
}

py::object optional_value(const std::optional<double>& v) {
    return v ? py::object(py::float_(*v)) : py::object(py::none());
}

template <class T>
void vector_field(py::class_<T>& cls, const char* name, std::vector<double> T::*member,
                  const char* doc) {
    cls.def_property(
        name, [member](const T& self) { return frozen(self.*member); },
        [member](T& self, const std::vector<double>& v) { self.*member = v; }, doc);
}

const char* transport_name(tavoline::Transport t) {
    return t == tavoline::Transport::diffusion ? "diffusion" : "nernst-planck-poisson";
}
tavoline::Transport transport_of(const std::string& s) {
    if (s == "nernst-planck-poisson") return tavoline::Transport::nernstPlanckPoisson;
    if (s == "diffusion") return tavoline::Transport::diffusion;
    throw py::value_error("transport: expected 'nernst-planck-poisson' or 'diffusion', found '" +
                          s + "'");
}
const char* method_name(tavoline::Method m) {
    switch (m) {
        case tavoline::Method::impedance:
            return "impedance";
        case tavoline::Method::chronopotentiometry:
            return "chronopotentiometry";
        default:
            return "potentiometry";
    }
}
tavoline::Method method_of(const std::string& s) {
    if (s == "potentiometry") return tavoline::Method::potentiometry;
    if (s == "impedance") return tavoline::Method::impedance;
    if (s == "chronopotentiometry") return tavoline::Method::chronopotentiometry;
    throw py::value_error(
        "method: expected 'potentiometry', 'impedance' or 'chronopotentiometry', found '" + s +
        "'");
}

tavoline::ImpedanceSpectra impedance_of(const std::string& s) {
    return tavoline::impedance_spectra(s);
}

py::dict stats_dict(const tavoline::Statistics& s) {
    return py::dict("steps"_a = s.steps, "accepted"_a = s.accepted, "rejected"_a = s.rejected,
                    "rhs_calls"_a = s.rhsCalls, "jacobians"_a = s.jacobians,
                    "decompositions"_a = s.decompositions, "wall_seconds"_a = s.wallSeconds);
}

py::dict profiles_dict(const tavoline::Profiles& p) {
    return py::dict("x"_a = array(p.x), "concentration"_a = matrix(p.concentration),
                    "grid_x"_a = array(p.gridX), "field"_a = array(p.field),
                    "potential"_a = array(p.potential));
}

py::object spectrum_dict(const std::optional<tavoline::Spectrum>& s) {
    if (!s) return py::none();
    return py::dict("frequency"_a = array(s->frequency), "real"_a = array(s->real),
                    "imaginary"_a = array(s->imaginary));
}

py::object agreement_dict(const std::optional<tavoline::SpectrumAgreement>& a) {
    if (!a) return py::none();
    return py::dict("band_low"_a = a->bandLow, "band_high"_a = a->bandHigh,
                    "frequencies"_a = a->frequencies, "largest_difference"_a = a->largestDifference,
                    "at_omega"_a = a->atOmega);
}

py::object linear_spectrum_dict(const std::optional<tavoline::LinearSpectrum>& s) {
    if (!s) return py::none();
    return py::dict("frequency"_a = array(s->frequency), "real"_a = array(s->real),
                    "imaginary"_a = array(s->imaginary), "potential_rate"_a = s->potentialRate,
                    "steady"_a = s->steady, "agreement"_a = agreement_dict(s->agreement),
                    "failure"_a = s->failure);
}

py::dict point_dict(const tavoline::PointResult& p) {
    return py::dict(
        "point"_a = p.point, "multiplier"_a = p.multiplier, "concentration"_a = p.concentration,
        "final_potential"_a = optional_value(p.finalPotential), "status"_a = p.status,
        "warnings"_a = p.warnings, "failure"_a = p.failure, "drift"_a = optional_value(p.drift),
        "started_from"_a =
            p.startedFrom ? py::object(py::int_(*p.startedFrom)) : py::object(py::none()),
        "statistics"_a = stats_dict(p.statistics), "time"_a = array(p.time),
        "potential"_a = array(p.potential), "profiles"_a = profiles_dict(p.profiles),
        "spectrum"_a = spectrum_dict(p.spectrum),
        "linear_spectrum"_a = linear_spectrum_dict(p.linearSpectrum),
        "transient_time"_a = array(p.transientTime),
        "transient_potential"_a = array(p.transientPotential));
}

py::object fit_dict(const std::optional<tavoline::CalibrationFit>& f) {
    if (!f) return py::none();
    const bool line = !f->linearPoints.empty();  // no line: no slope, no intercept
    return py::dict("linear_points"_a = f->linearPoints, "automatic"_a = f->automatic,
                    "slope"_a = line ? py::object(py::float_(f->slope)) : py::none(),
                    "slope_error"_a = optional_value(f->slopeError),
                    "intercept"_a = line ? py::object(py::float_(f->intercept)) : py::none(),
                    "detection_limit"_a = optional_value(f->detectionLimit), "note"_a = f->note);
}

py::object grid_dict(const std::optional<tavoline::GridReport>& g) {
    if (!g) return py::none();
    py::list grids;
    for (const auto& grid : g->grids) {
        py::list layers;
        for (const auto& l : grid)
            layers.append(py::dict("cells"_a = l.cells, "debye_cells"_a = l.debyeCells,
                                   "first_step"_a = l.firstStep));
        grids.append(layers);
    }
    py::list intervals;
    for (const auto& i : g->intervals)
        intervals.append(i ? py::object(py::make_tuple(i->first, i->second))
                           : py::object(py::none()));
    py::list potentials;
    for (const auto& values : g->potentials) {
        py::list row;
        for (const auto& v : values) row.append(optional_value(v));
        potentials.append(row);
    }
    return py::dict("grids"_a = grids, "unknowns"_a = g->unknowns, "used"_a = g->used,
                    "converged"_a = g->converged, "note"_a = g->note, "potentials"_a = potentials,
                    "intervals"_a = intervals, "reasons"_a = g->reasons, "atol"_a = g->atol,
                    "rtol"_a = g->rtol, "time_error"_a = optional_value(g->timeError));
}

py::dict result_dict(const tavoline::Result& r) {
    py::list points;
    for (const auto& p : r.points) points.append(point_dict(p));
    return py::dict("status"_a = r.status, "exit_code"_a = r.exitCode, "message"_a = r.message,
                    "warnings"_a = r.warnings, "points"_a = points,
                    "calibration"_a = fit_dict(r.calibration), "grid"_a = grid_dict(r.grid),
                    "grid_check"_a = grid_dict(r.gridCheck), "run_folder"_a = r.runFolder);
}

std::vector<double> final_potentials(const tavoline::Result& r) {
    std::vector<double> v;
    for (const auto& p : r.points)
        v.push_back(p.finalPotential ? *p.finalPotential
                                     : std::numeric_limits<double>::quiet_NaN());
    return v;
}

tavoline::Result run_problem(const tavoline::Problem& problem, bool dense, bool debyeGrid,
                             double accuracy, bool checkGrid, bool strict,
                             std::optional<std::pair<int, int>> linearRange,
                             const std::string& impedance, bool writeFiles,
                             const py::object& messages, int threads) {
    tavoline::Options options;
    options.dense = dense;
    options.debyeGrid = debyeGrid;
    options.accuracy = accuracy;
    options.checkGrid = checkGrid;
    options.strict = strict;
    options.linearRange = linearRange;
    options.impedance = impedance_of(impedance);
    options.writeFiles = writeFiles;
    options.threads = threads;
    DiscardSink discard;
    std::optional<CallableSink> callable;
    if (messages.is_none()) {
        options.messages = &discard;
    } else if (py::isinstance<py::bool_>(messages)) {
        if (messages.cast<bool>())
            callable.emplace(py::module_::import("sys").attr("stdout").attr("write"));
        else
            options.messages = &discard;
    } else if (PyCallable_Check(messages.ptr())) {
        callable.emplace(messages.cast<py::function>());
    } else {
        throw py::type_error("messages: expected None, a bool or a callable taking one str");
    }
    if (callable) options.messages = &*callable;
    InterruptScope scope;
    options.stop = scope.flag();
    // The run reads its own copy, taken while this thread holds the interpreter: no Python
    // code of another thread can change what it reads.
    const tavoline::Problem own = problem;
    tavoline::Result result;
    {
        py::gil_scoped_release release;
        result = tavoline::run(own, options);
    }
    if (scope.interrupted()) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    return result;
}

}  // namespace

PYBIND11_MODULE(tavoline, m) {
    m.doc() =
        "Ion transport through membrane stacks: Nernst-Planck-Poisson or diffusion, "
        "potentiometry, impedance and chronopotentiometry. Every quantity in SI units.";
    m.attr("__version__") = tavoline::version();

    // Errors: tavoline.Error and its kinds, with file, line, field and value.
    static py::exception<tavoline::Error> error(m, "Error");
    static py::handle input = PyErr_NewException("tavoline.InputError", error.ptr(), nullptr);
    static py::handle numerical =
        PyErr_NewException("tavoline.NumericalError", error.ptr(), nullptr);
    static py::handle output = PyErr_NewException("tavoline.OutputError", error.ptr(), nullptr);
    m.attr("InputError") = input;
    m.attr("NumericalError") = numerical;
    m.attr("OutputError") = output;
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const tavoline::Error& e) {
            const py::handle type = e.kind() == tavoline::ErrorKind::input       ? input
                                    : e.kind() == tavoline::ErrorKind::numerical ? numerical
                                                                                 : output;
            py::object exc = py::reinterpret_borrow<py::object>(type)(decodable(e.what()));
            exc.attr("file") = decodable(e.file());
            exc.attr("line") = e.line();
            exc.attr("field") = decodable(e.field());
            exc.attr("value") = decodable(e.value());
            PyErr_SetObject(type.ptr(), exc.ptr());
        }
    });

    py::class_<tavoline::Layer> layer(m, "Layer", "One layer of the stack, left to right.");
    layer
        .def(py::init([](double thickness, double permittivity, int complexing, int gridType,
                         int cells, int debyeCells) {
                 return tavoline::Layer{thickness, permittivity, complexing,
                                        gridType,  cells,        debyeCells};
             }),
             "thickness"_a, "permittivity"_a, "complexing"_a = 0, "grid_type"_a = 0, "cells"_a = 40,
             "debye_cells"_a = 3)
        .def_readwrite("thickness", &tavoline::Layer::thickness, "[m]")
        .def_readwrite("permittivity", &tavoline::Layer::permittivity, "[C^2/(J m)]")
        .def_readwrite("complexing", &tavoline::Layer::complexing,
                       "0 none, 1 at the boundaries only, 2 throughout")
        .def_readwrite("grid_type", &tavoline::Layer::gridType,
                       "0 refined at both edges, 1 left, 2 right, 3 uniform")
        .def_readwrite("cells", &tavoline::Layer::cells, "N (the automatic grid chooses its own)")
        .def_readwrite("debye_cells", &tavoline::Layer::debyeCells,
                       "m, cells within the first Debye length")
        .def("__repr__", [](const tavoline::Layer& l) {
            return "Layer(thickness=" + py::repr(py::float_(l.thickness)).cast<std::string>() +
                   ", permittivity=" + py::repr(py::float_(l.permittivity)).cast<std::string>() +
                   ", complexing=" + std::to_string(l.complexing) + ")";
        });

    py::class_<tavoline::Component> component(
        m, "Component",
        "One species. Per-layer arrays hold one value per layer, per-interface arrays one "
        "per interface (layers + 1); at an interface the flux from left to right is "
        "kif*c_left - kib*c_right. Arrays are read-only copies: assign a whole sequence.");
    component
        .def(py::init([](std::string name, int charge, std::vector<double> diffusivity, double left,
                         std::vector<double> initial, double right, std::vector<double> kif,
                         std::vector<double> kib, int ligand, int complex, std::vector<double> kas,
                         std::vector<double> kdis) {
                 return tavoline::Component{std::move(name),
                                            charge,
                                            std::move(diffusivity),
                                            left,
                                            std::move(initial),
                                            right,
                                            std::move(kif),
                                            std::move(kib),
                                            ligand,
                                            complex,
                                            std::move(kas),
                                            std::move(kdis)};
             }),
             "name"_a = "", "charge"_a = 0, "diffusivity"_a = std::vector<double>{}, "left"_a = 0.0,
             "initial"_a = std::vector<double>{}, "right"_a = 0.0, "kif"_a = std::vector<double>{},
             "kib"_a = std::vector<double>{}, "ligand"_a = 0, "complex"_a = 0,
             "kas"_a = std::vector<double>{}, "kdis"_a = std::vector<double>{})
        .def_readwrite("name", &tavoline::Component::name)
        .def_readwrite("charge", &tavoline::Component::charge)
        .def_readwrite("left", &tavoline::Component::left, "[mol/m^3] left solution (sample)")
        .def_readwrite("right", &tavoline::Component::right, "[mol/m^3] right solution")
        .def_readwrite("ligand", &tavoline::Component::ligand,
                       "component (1-based) it binds to; 0 none")
        .def_readwrite("complex", &tavoline::Component::complex,
                       "component (1-based) the pair forms");
    vector_field(component, "diffusivity", &tavoline::Component::diffusivity, "[m^2/s] per layer");
    vector_field(component, "initial", &tavoline::Component::initial, "[mol/m^3] per layer");
    vector_field(component, "kif", &tavoline::Component::kif, "[m/s] per interface");
    vector_field(component, "kib", &tavoline::Component::kib, "[m/s] per interface");
    vector_field(component, "kas", &tavoline::Component::kas, "[m^3/(mol s)] per layer");
    vector_field(component, "kdis", &tavoline::Component::kdis, "[1/s] per layer");
    component.def("__repr__", [](const tavoline::Component& c) {
        return "Component(name=" + py::repr(py::str(c.name)).cast<std::string>() +
               ", charge=" + std::to_string(c.charge) + ")";
    });

    py::bind_vector<std::vector<tavoline::Layer>>(m, "LayerList");
    py::bind_vector<std::vector<tavoline::Component>>(m, "ComponentList");

    py::class_<tavoline::Problem> problem(
        m, "Problem",
        "A membrane problem in SI units, as an input file holds it. Components are numbered "
        "from 1 where the problem refers to one (changed_ion, opposite_ion, ligand, complex).");
    problem.def(py::init<>())
        .def_static("from_file", &tavoline::Problem::from_file, "path"_a,
                    "Reads an input file of any form.")
        .def_static("from_text", &tavoline::Problem::from_text, "text"_a, "source"_a = "problem",
                    "Reads input text of any form; `source` names it in messages.")
        .def_readwrite("name", &tavoline::Problem::name)
        .def_property(
            "transport", [](const tavoline::Problem& p) { return transport_name(p.transport); },
            [](tavoline::Problem& p, const std::string& s) { p.transport = transport_of(s); },
            "'nernst-planck-poisson' or 'diffusion'")
        .def_property(
            "method", [](const tavoline::Problem& p) { return method_name(p.method); },
            [](tavoline::Problem& p, const std::string& s) { p.method = method_of(s); },
            "'potentiometry', 'impedance' or 'chronopotentiometry'")
        .def_readwrite("current_density", &tavoline::Problem::currentDensity, "[A/m^2]")
        .def_readwrite("layers", &tavoline::Problem::layers)
        .def_readwrite("components", &tavoline::Problem::components)
        .def_readwrite("temperature", &tavoline::Problem::temperature, "[K]")
        .def_readwrite("duration", &tavoline::Problem::duration, "[s] of every calibration point")
        .def_readwrite("target", &tavoline::Problem::target,
                       "0 left solution, 1..n a layer, n+1 right solution")
        .def_readwrite("changed_ion", &tavoline::Problem::changedIon)
        .def_readwrite("opposite_ion", &tavoline::Problem::oppositeIon)
        .def_readwrite("atol", &tavoline::Problem::atol)
        .def_readwrite("rtol", &tavoline::Problem::rtol)
        .def_readwrite("length_scale", &tavoline::Problem::lengthScale, "[m], 0 automatic")
        .def_readwrite("time_scale", &tavoline::Problem::timeScale, "[s], 0 automatic")
        .def_readwrite("concentration_scale", &tavoline::Problem::concentrationScale,
                       "[mol/m^3], 0 automatic")
        .def_readwrite("field_scale", &tavoline::Problem::fieldScale, "[V/m], 0 automatic")
        .def_readwrite("first_step", &tavoline::Problem::firstStep, "[m], 0: the automatic grid")
        .def_readwrite("postscript", &tavoline::Problem::postscript);
    vector_field(problem, "multipliers", &tavoline::Problem::multipliers,
                 "one per calibration point");
    problem
        .def(
            "component",
            [](tavoline::Problem& p, const std::string& name) -> tavoline::Component& {
                for (tavoline::Component& c : p.components)
                    if (c.name == name) return c;
                throw py::key_error("no component named '" + name + "'");
            },
            py::return_value_policy::reference_internal, "name"_a,
            "The component of that name (its label in the input).")
        .def("copy", [](const tavoline::Problem& p) { return p; })
        .def("__copy__", [](const tavoline::Problem& p) { return p; })
        .def("__deepcopy__", [](const tavoline::Problem& p, py::dict) { return p; })
        .def("to_text", &tavoline::Problem::to_text,
             "The problem as input text of the current form (exact numbers).")
        .def("validate", &tavoline::Problem::validate,
             "Checks the problem as the program checks an input; raises InputError naming "
             "the field.")
        .def("run", &run_problem, "dense"_a = false, "debye_grid"_a = false, "accuracy"_a = 0.1,
             "check_grid"_a = false, "strict"_a = false, "linear_range"_a = py::none(),
             "impedance"_a = "both", "write_files"_a = false, "messages"_a = py::none(),
             "threads"_a = 0,
             "Runs every calibration point and returns a Result. impedance: the spectra of an "
             "impedance problem, 'step' (from a current step's transient), 'linear' (from the "
             "linearised system at each point's end state, no current-step run) or 'both'. "
             "Nothing is written unless write_files; messages: None (none), True (sys.stdout) "
             "or a callable taking a str; threads: of each integration, 1 or 2 (0: 2 on a "
             "machine with two cores or more), the same results with any number. Ctrl-C stops "
             "the run after its current step and raises KeyboardInterrupt.");

    py::class_<tavoline::PointResult>(m, "PointResult")
        .def_readonly("point", &tavoline::PointResult::point)
        .def_readonly("multiplier", &tavoline::PointResult::multiplier)
        .def_readonly("concentration", &tavoline::PointResult::concentration,
                      "[mol/m^3] of the changed ion in the target")
        .def_readonly("final_potential", &tavoline::PointResult::finalPotential, "[mV]")
        .def_readonly("status", &tavoline::PointResult::status)
        .def_readonly("warnings", &tavoline::PointResult::warnings)
        .def_readonly("failure", &tavoline::PointResult::failure)
        .def_readonly("drift", &tavoline::PointResult::drift, "[mV/s]")
        .def_property_readonly(
            "time", [](const tavoline::PointResult& p) { return array(p.time); }, "[s]")
        .def_property_readonly(
            "potential", [](const tavoline::PointResult& p) { return array(p.potential); }, "[mV]")
        .def_property_readonly(
            "transient_time", [](const tavoline::PointResult& p) { return array(p.transientTime); },
            "[s] of the current step")
        .def_property_readonly(
            "transient_potential",
            [](const tavoline::PointResult& p) { return array(p.transientPotential); }, "[mV]")
        .def_readonly("started_from", &tavoline::PointResult::startedFrom)
        .def_property_readonly(
            "statistics", [](const tavoline::PointResult& p) { return stats_dict(p.statistics); })
        .def_property_readonly(
            "profiles", [](const tavoline::PointResult& p) { return profiles_dict(p.profiles); })
        .def_property_readonly(
            "spectrum", [](const tavoline::PointResult& p) { return spectrum_dict(p.spectrum); },
            "Of an impedance point, from the current step: frequency [Hz], real Z' and "
            "imaginary -Z'' [ohm m^2]; None without one.")
        .def_property_readonly(
            "linear_spectrum",
            [](const tavoline::PointResult& p) { return linear_spectrum_dict(p.linearSpectrum); },
            "Of an impedance point, from the linearised system at its end state: frequency "
            "[Hz], real Z' and imaginary -Z'' [ohm m^2]; potential_rate [mV/s] there and "
            "steady; agreement with the step spectrum when both ran (band_low, band_high "
            "[rad/s], frequencies, largest_difference relative, at_omega [rad/s]) or None; "
            "failure; None without one.")
        .def("to_dict", &point_dict)
        .def("__repr__", [](const tavoline::PointResult& p) {
            return "PointResult(point=" + std::to_string(p.point) + ", status='" + p.status + "')";
        });

    py::class_<tavoline::Result>(m, "Result")
        .def_readonly("status", &tavoline::Result::status)
        .def_readonly("exit_code", &tavoline::Result::exitCode)
        .def_readonly("message", &tavoline::Result::message)
        .def_readonly("warnings", &tavoline::Result::warnings)
        .def_readonly("points", &tavoline::Result::points)
        .def_readonly("run_folder", &tavoline::Result::runFolder)
        .def_property_readonly(
            "concentrations",
            [](const tavoline::Result& r) {
                std::vector<double> v;
                for (const auto& p : r.points) v.push_back(p.concentration);
                return array(v);
            },
            "[mol/m^3] of the changed ion, per point")
        .def_property_readonly(
            "final_potentials",
            [](const tavoline::Result& r) { return array(final_potentials(r)); },
            "[mV] per point, NaN where a point has none")
        .def_property_readonly("calibration",
                               [](const tavoline::Result& r) { return fit_dict(r.calibration); })
        .def_property_readonly("grid", [](const tavoline::Result& r) { return grid_dict(r.grid); })
        .def_property_readonly(
            "grid_check", [](const tavoline::Result& r) { return grid_dict(r.gridCheck); },
            "the grid check's report, when check_grid=True")
        .def("to_dict", &result_dict)
        .def("__repr__", [](const tavoline::Result& r) {
            return "Result(status='" + r.status + "', points=" + std::to_string(r.points.size()) +
                   ")";
        });
}
