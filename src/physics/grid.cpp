#include "physics/grid.h"
