#include "driver/HostDiscovery.h"
