#include "physics/flux.h"
