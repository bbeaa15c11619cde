// The run folder tree: the run folder named after the input, one folder per calibration
// point named after its multiplier, and a "spectrum" folder inside each point folder when
// the method asks for a second run.
#pragma once

#include <cstddef>
#include <string>

#include "base/message_sink.h"
#include "model/folder_lock.h"
#include "model/model.h"

// Fills `folders` (element 0 the run folder, element i the folder of point i) and creates
// the folders. A point whose multiplier text repeats an earlier point's gets the text
// followed by "_" and its point number, so that no point overwrites another's results; a
// line told to `sink` says where such a point's results go.
void make_run_folders(model& md, const std::string& base, MessageSink& sink = standard_output());

// Longest input name (without folder part and .cci) a run accepts: the names made from it
// (NAME_TAVO1.cci, NAME.previous-DATE-K) must stay within a file name's 255 bytes.
constexpr std::size_t kMaxInputName = 200;

// Refuses (InputError) an input name that names no file NAME.cci in a folder: empty, ".",
// "..", ending in "/", or longer than kMaxInputName. Checked before the input is read, so
// that no run folder can fall on the working folder or the input file.
void check_input_name(const std::string& inputName);

// Keeps an earlier run: when the run folder of this input exists, it is renamed to
// NAME.previous-YYYY-MM-DDTHH-MM-SS (a number added when that exists too) and a line told
// to `sink` says so, so that the files of two runs never mix. Something other than a
// folder in its place is refused with InputError. The first change a run makes on disk.
void keep_earlier_run(const model& md, MessageSink& sink = standard_output());

// The lock file of the run of `inputName`: .NAME.lock beside NAME.cci.
std::string run_lock_file(const std::string& inputName);

// Takes the run's lock before anything is renamed or written, and holds it (the returned
// object) for the whole run, so that a second run of the same input in the same folder
// never renames or writes into the folder of one under way: it is refused with InputError
// naming the process that holds the lock. A lock that cannot be taken (the file cannot be
// made, or something other than a plain file stands in its place: a symbolic link, a
// folder) refuses the run too, with InputError naming the file and why.
FolderLock lock_run_folder(const std::string& inputName);
