#include "acquisition/blockmath.h"
