#include "driver/ZelmSoundUpdate.h"

int RunProgram() {
    return 0;
}
