#include "model/run_folders.h"

#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>
#include <system_error>

#include "model/errors.h"
#include "model/text_scanner.h"

namespace {

// A folder that cannot be made ends the run before any result is computed: nothing could
// be kept of it.
void create_folder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec || !std::filesystem::is_directory(path))
        throw InputError("Folder " + path + " cannot be created: " +
                         (ec ? ec.message() : std::string("something else has its name")));
}

}  // namespace

void make_run_folders(model& md, const std::string& base, MessageSink& sink) {
    md.folders.assign(md.nCalib + 1, std::string());
    // beside the input, whether it is named by a relative or an absolute path
    md.folders[0] = md.inputName.starts_with('/') ? md.inputName : base + "/" + md.inputName;
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
                tell(sink, "Calibration point ", i, " has the same multiplier text ", shared,
                     " as an earlier point; its results go to ", md.folders[0], "/", name, "\n");
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

void check_input_name(const std::string& inputName) {
    const std::size_t slash = inputName.find_last_of('/');
    const std::string base = slash == std::string::npos ? inputName : inputName.substr(slash + 1);
    if (base.empty() || base == "." || base == "..")
        throw InputError("The input name '" + visible_text(inputName) +
                         "' names no input file: give the name of a file NAME.cci, as NAME or "
                         "NAME.cci, for example b for b.cci.");
    if (base.size() > kMaxInputName)
        throw InputError("The input name '" + visible_text(base.substr(0, 40)) + "...' has " +
                         std::to_string(base.size()) + " characters; at most " +
                         std::to_string(kMaxInputName) +
                         " fit the names of the run folder and its files.");
}

void keep_earlier_run(const model& md, MessageSink& sink) {
    namespace fs = std::filesystem;
    // as make_run_folders names it
    const fs::path folder = md.inputName.starts_with('/') ? md.inputName : "./" + md.inputName;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (!fs::exists(status)) return;
    if (!fs::is_directory(status))
        throw InputError("The run folder " + folder.string() +
                         " cannot be made: something other than a folder has that name. "
                         "Move it away or run the input under another name.");
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%S", std::localtime(&now));
    fs::path kept = folder.string() + ".previous-" + stamp;
    for (int k = 2; fs::exists(fs::symlink_status(kept, ec)); ++k)
        kept = folder.string() + ".previous-" + stamp + "-" + std::to_string(k);
    fs::rename(folder, kept, ec);
    if (ec)
        throw InputError("The run folder " + folder.string() +
                         " holds an earlier run that cannot be kept aside (" + ec.message() +
                         "); move it away before running again.");
    tell(sink, "The run folder ", folder.string(), " held an earlier run; it is kept as ",
         kept.string(), "\n");
}

std::string run_lock_file(const std::string& inputName) {
    const std::size_t slash = inputName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : inputName.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? inputName : inputName.substr(slash + 1);
    return folder + "." + base + ".lock";
}

FolderLock lock_run_folder(const std::string& inputName) {
    const std::string file = run_lock_file(inputName);
    FolderLock::Attempt attempt = FolderLock::Attempt::failed;
    long holder = 0;
    std::string reason;
    FolderLock lock = FolderLock::try_take(file, attempt, holder, reason);
    switch (attempt) {
        case FolderLock::Attempt::taken:
            return lock;
        case FolderLock::Attempt::busy:
            throw InputError("Another run of " + visible_text(inputName) +
                             " is under way in this folder (" +
                             (holder > 0 ? "process " + std::to_string(holder)
                                         : std::string("its process is starting")) +
                             ", holding " + visible_text(file) +
                             "); this run stops and leaves its run folder as it is. Wait for "
                             "that run to end, or run the input under another name.");
        case FolderLock::Attempt::no_file:  // a symbolic link, a folder, a file not ours
        case FolderLock::Attempt::failed:
            break;
    }
    throw InputError("The run folder of " + visible_text(inputName) +
                     " cannot be guarded against a second run: " + visible_text(file) +
                     " cannot be locked (" + reason + ").");
}
