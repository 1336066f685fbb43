#include "jet/format.h"
