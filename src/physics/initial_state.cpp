#include "physics/initial_state.h"
