#include "platform/Random.h"
