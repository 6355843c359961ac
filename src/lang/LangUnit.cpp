#include "lang/LangUnit.h"
