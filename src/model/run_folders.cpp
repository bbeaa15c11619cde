#include "model/run_folders.h"

#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <system_error>

namespace {

void create_folder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec || !std::filesystem::is_directory(path))
        std::cout << "Folder " << path << " cannot be created: " << ec.message() << "\n";
}

}  // namespace

void make_run_folders(model& md, const std::string& base) {
    md.folders.assign(md.nCalib + 1, std::string());
    md.folders[0] = base + "/" + md.inputName;
    if (md.nCalib > 1) {
        std::set<std::string> used;
        for (int i = 1; i <= md.nCalib; ++i) {
            std::ostringstream text;
            text << md.multipliers[i];
            std::string name = text.str();
            if (!used.insert(name).second) {
                const std::string shared = name;
                name.append(1, '_').append(std::to_string(i));
                used.insert(name);
                std::cout << "Calibration point " << i << " has the same multiplier text " << shared
                          << " as an earlier point; its results go to " << md.folders[0] << "/"
                          << name << "\n";
            }
            md.folders[i] = md.folders[0] + "/" + name;
        }
    } else {
        md.folders[1] = md.folders[0];
    }
    create_folder(md.folders[0]);
    if (md.nCalib > 1)
        for (int i = 1; i <= md.nCalib; ++i) create_folder(md.folders[i]);
    if (md.method > 0)
        for (int i = 1; i <= md.nCalib; ++i) create_folder(md.folders[i] + "/spectrum");
}
