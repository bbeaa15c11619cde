#include "output/report.h"

#include <algorithm>
#include <sstream>

#include "output/output_file.h"

namespace {

// One calibration target as the report names it: left solution, right solution or layer.
void write_target(std::ostream& out, const model& md, int t) {
    if (t == 0)
        out << "c<sub>iL</sub>";
    else if (t == md.n + 1)
        out << "c<sub>iR</sub>";
    else if (t >= 1 && t <= md.n)
        out << "c<sub>iM</sub> of layer " << t;
}

void write_calibration(std::ostream& out, const model& md) {
    out << "<b>The calibration curve was calculated for: </b><br>";
    const int nTargets = std::min<int>(md.nTargets, static_cast<int>(md.targets.size()));
    for (int k = 0; k < nTargets; ++k) {
        write_target(out, md, md.targets[k]);
        if (k == nTargets - 1)
            out << " of jon number " << md.changedIon << " multiplied by following values:<br>\n";
        else
            out << ", ";
    }
    // multipliers[0] is the unit multiplier of the input; points are 1..nCalib.
    const int last = std::min<int>(md.nCalib, static_cast<int>(md.multipliers.size()) - 1);
    for (int i = 1; i < last; ++i) out << md.multipliers[i] << ", ";
    if (last >= 0) out << md.multipliers[last];
    out << ". <br>"
        << "The concentrations of jon number " << md.oppositeIon
        << " were changed to provide electroneutrality.<br>";
}

void write_scaling_and_grid(std::ostream& out, const model& md) {
    switch (md.rescalingMethod) {
        case 0:
            out << "No rescalization used. <br>";
            break;
        case 1:
            out << "Automatic rescalization. <br>";
            break;
        case 2:
            out << "Automatic rescalization with constants divided by provided value. <br>";
            break;
        case 3:
            out << "Manualy provided rescalization. <br>\n";
            break;
        default:
            break;
    }
    if (md.rescalingMethod != 0) {
        out << "<b>Rescalization constants equals:</b>"
            << "<br>L = " << md.L << ", "
            << "<br>t<sub>c</sub> = " << md.tc << ", "
            << "<br>c<sub>max</sub> = " << md.cScale << ", "
            << "<br>E<sub>max</sub> = " << md.eScale << ", ";
    }
    out << "<br><br><b>Grid description:</b><br>\n";
    switch (md.gridDebyeMethod) {
        case 1:
            out << "Grid debay was calculated by program.\n";
            break;
        case 2:
            out << "Grid debay was calculated by program and divided by provided value.\n";
            break;
        case 3:
            out << "Grid debay was provided manualy.\n";
            break;
        default:
            break;
    }
    out << "<br>Grid_Debye_Length equals: " << md.hDebye << " m";
}

void write_layers(std::ostream& out, const model& md) {
    out << "<br><br><b>Number of layers = " << md.n << "; </b><br>"
        << "r = " << md.R << " (number of components); <br>"
        << "T = " << md.T << "  (absolute temperature);<br>"
        << "t<sub>end</sub> = " << md.tEnd * md.tc
        << "  (time of the process duration [s]);<br><br>";
    for (int l = 1; l <= md.n; ++l) {
        out << "<b>layer " << l << " :</b><br>"
            << "N = " << md.N.at(l) << " (number of points in discretization);<br>"
            << "m = " << md.m.at(l) << "(number of points in Debye length);<br>"
            << "d = " << md.d.at(l) << " (membrane thickness [m]);<br>"
            << "epsilon = " << md.epsilon.at(l) << " (dielectric constant);<br><br>";
    }
}

// One row per component: charge, diffusivities [m^2/s], concentrations [mol/m^3] and the
// interfacial rate constants [m/s], all converted back from scaled units.
void write_component_table(std::ostream& out, const model& md) {
    out << "<table border=\"3\"><tr align = \"center\"><td></td><td>z<sub>i</sub></td>";
    for (int l = 1; l <= md.n; ++l) out << "<td>D<sub>i</sub>" << l << "</td>";
    out << "<td>c<sub>iL</sub></td>";
    for (int l = 1; l <= md.n; ++l) out << "<td>c<sub>iM</sub>" << l << "</td>";
    out << "<td>c<sub>iR</sub></td>";
    for (int i = 0; i <= md.n; ++i)
        out << "<td>k<sub>if</sub>" << i << "</td><td>k<sub>ib</sub>" << i << "</td>";

    for (int c = 1; c <= md.R; ++c) {
        out << "<tr align=\"center\"><td>Component " << c << " </td><td> " << md.z[c] << " </td>";
        for (int l = 1; l <= md.n; ++l) out << "<td>" << md.D.at(l).item(c) << " </td>";
        const bool opposite = c == md.oppositeIon;
        auto concentration = [&](double scaled) {
            if (opposite)
                out << "<td>*tpe</td>";
            else
                out << "<td>" << scaled * md.cScale << "</td>";
        };
        concentration(md.cL[c]);
        for (int l = 1; l <= md.n; ++l) concentration(md.cM.at(l).item(c));
        concentration(md.cR[c]);
        for (int i = 0; i <= md.n; ++i)
            out << "<td>" << md.Kif[i][c] * md.L / md.tc << "</td><td>"
                << md.Kib[i][c] * md.L / md.tc << "</td>";
    }
    out << "</table>*tpe = to provide electroneutrality";
}

}  // namespace

std::string problem_statement(const model& md) {
    std::ostringstream out;
    out << "<h1>Tavoline 2.0</h1>"
        << "<b>Electrochemical method: ";
    if (md.method == 0)
        out << "Potentiometry";
    else if (md.method == 1)
        out << "Electrochemical Impedance Spectroscopy";
    out << "</b><br> All calculations in this folder were performed for following data:<br><br>";
    write_calibration(out, md);
    write_scaling_and_grid(out, md);
    write_layers(out, md);
    out << "<b>Other values: </b><br>";
    write_component_table(out, md);
    return out.str();
}

void write_run_report(model& md, RunFiles& files) {
    md.fileName = (md.folders.empty() ? std::string(".") : md.folders[0]) + "/data.html";
    const std::string page = "<html><head><title>Tavoline 2.0 data.html file</title></head><body>" +
                             problem_statement(md) + "</body></html>";
    // A report that could not be written has been reported; it is not claimed as generated.
    if (write_result(files, md.fileName, page))
        tell(*files.messages, "data.html file generated. \n");
}
