#include "driver/program.h"

#include <iostream>

int run_main(int, char**) {
    std::cout << "******************************************************\n"
                 "*         Tavoline           *\n"
                 "*              version 2.0 (22.12.2014)              *\n"
                 "******************************************************\n";
    return 0;
}
