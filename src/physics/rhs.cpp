#include "physics/rhs.h"
