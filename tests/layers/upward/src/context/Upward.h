// A context header that reaches up into the driver: the include check must name it.
#pragma once

#include "driver/HostDiscovery.h"
#include "os/os.h"
