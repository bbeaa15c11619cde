// Helpers shared by the test programs: scratch folders, files and running the program.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace testutil {

// A fresh folder under the system's temporary folder, removed with the object. The name
// holds the label, the process id and a random part, so test processes run in parallel
// never share one.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& label = "") {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("tavoline-test-" + (label.empty() ? "" : label + "-") + std::to_string(getpid()) +
                 "-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& p, const std::string& text) {
    std::ofstream f(p, std::ios::binary);
    f << text;
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs a shell command (test-controlled text only), capturing its stdout and stderr.
inline RunResult run_command(const std::string& cmd) {
    RunResult r;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t k;
    while ((k = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, k);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// Runs the program in `dir` with the given argument (test-controlled text only), by default
// on the grid of a Debye-length first step that the tests' recorded numbers were taken on
// (its results carry the warning "grid not checked"); `grid` "" runs on the automatic grid,
// whose results are converged.
inline RunResult run_program(const std::filesystem::path& dir, const std::string& arg,
                             const std::string& grid = "--debye-grid") {
    return run_command("cd '" + dir.string() + "' && '" TAVOLINE_EXE "' " + grid + " '" + arg +
                       "' </dev/null");
}

// tests/data/equilibrium.cci with a forward rate constant of 1e200 m/s at the left edge
// and no backward one (transfer one way only, so no partition ratio carries the solution's
// concentration beyond the dilute range): every trial state overflows, so the integration
// of its one point fails at the first step ("the step size became too small", code -3).
inline std::string failing_input() {
    std::string text = read_file(std::string(TAVOLINE_TEST_DATA) + "/equilibrium.cci");
    for (const char* name : {"Kif", "Kib"}) {
        const std::string rates = std::string(name) + " [layers+1]           : 1 1";
        const std::size_t at = text.find(rates);
        if (at != std::string::npos)
            text.replace(at, rates.size(),
                         std::string(name) +
                             " [layers+1]           : " + (name[2] == 'f' ? "1e200 1" : "0 1"));
    }
    return text;
}

// A test case title as a test name: every character but letters and digits becomes '_'.
inline std::string case_name(std::string title) {
    for (char& ch : title)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return title;
}

inline bool has_ghostscript() {
    static const bool found = std::system("gs --version >/dev/null 2>&1") == 0;
    return found;
}

// Renders a PostScript file with Ghostscript into `output` (discarded by default), at
// `resolution` dpi when given. A page that renders cleanly gives status 0 and no "Error"
// in the output, where gs reports PostScript faults.
inline RunResult render_postscript(const std::filesystem::path& ps,
                                   const std::string& output = "/dev/null", int resolution = 0) {
    std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m ";
    if (resolution > 0) cmd += "-r" + std::to_string(resolution) + " ";
    return run_command(cmd + "-sOutputFile='" + output + "' '" + ps.string() + "' </dev/null");
}

inline bool rendered_cleanly(const RunResult& r) {
    return r.status == 0 && r.output.find("Error") == std::string::npos;
}

}  // namespace testutil

namespace testutil {

// An RGB picture read from a binary PPM.
struct Image {
    int width = 0;
    int height = 0;
    std::string pixels;  // width * height * 3 bytes
    // Pixels with any channel below half intensity.
    long dark_pixels() const {
        long dark = 0;
        for (std::size_t i = 0; i + 2 < pixels.size(); i += 3)
            if (std::min({static_cast<unsigned char>(pixels[i]),
                          static_cast<unsigned char>(pixels[i + 1]),
                          static_cast<unsigned char>(pixels[i + 2])}) < 128)
                ++dark;
        return dark;
    }
    // How many different grey levels (sum of the three channels) the picture holds: 1 for
    // a blank one.
    int distinct_levels() const {
        bool seen[3 * 255 + 1] = {};
        int levels = 0;
        for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
            const int v = static_cast<unsigned char>(pixels[i]) +
                          static_cast<unsigned char>(pixels[i + 1]) +
                          static_cast<unsigned char>(pixels[i + 2]);
            if (!seen[v]) ++levels;
            seen[v] = true;
        }
        return levels;
    }
};

// A PNG file decoded through netpbm's pngtopnm; an empty image when that fails.
inline Image read_png(const std::filesystem::path& png) {
    const std::filesystem::path ppm = png.string() + ".ppm";
    Image image;
    if (run_command("pngtopnm '" + png.string() + "' > '" + ppm.string() + "'").status != 0)
        return image;
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> image.width >> image.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255) return Image{};
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    in.read(image.pixels.data(), static_cast<std::streamsize>(image.pixels.size()));
    return image;
}

}  // namespace testutil
