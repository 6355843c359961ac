#include "platform/WinVer.h"
