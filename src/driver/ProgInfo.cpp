#include "driver/ProgInfo.h"
