#include "install/SelfCheck.h"
