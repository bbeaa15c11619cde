#include "driver/program.h"

#include <exception>
#include <iostream>
#include <new>

#include "driver/calibration_loop.h"
#include "model/errors.h"
#include "numeric/integrator.h"

int run_main(int argc, char** argv) {
    try {
        return run_program(argc > 1 ? argv[1] : "b");
    } catch (const ReportedError&) {
        std::cout << "\n";  // its message is already on standard output
        return 1;
    } catch (const IntegratorError&) {
        return 1;  // the integrator has written its message and a line end
    } catch (const InputError& e) {
        std::cout << e.what() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this problem.\n";
        return 1;
    } catch (const std::exception& e) {
        std::cout << e.what() << "\n";
        return 1;
    } catch (...) {
        std::cout << "The run stopped on an unknown error.\n";
        return 1;
    }
}
