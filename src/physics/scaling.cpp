#include "physics/scaling.h"
