#include "install/SetupRim.h"
