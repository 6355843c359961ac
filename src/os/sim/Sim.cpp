#include "os/sim/Sim.h"
