// Arbitrary bytes read as an input file. The first line selects the form ("#TAVO2",
// "#TAVO" or "#ML"), so the seeds of all three forms and the dictionary's marks lead the
// fuzzer into each reader. A refused file must raise InputError; an accepted one must
// hold a record the later code can trust. Crashes, sanitizer reports, other exceptions
// and hangs are faults of the reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "model/input_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_process();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    model md;
    if (fuzz::completes([&] { read_input_text(md, text, "fuzz.cci"); }))
        fuzz::check_record(md, "input");
    return 0;
}
