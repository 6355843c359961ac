// The Windows entry point of ZelmSoundUpdate.exe.
#include "driver/ZelmSoundUpdate.h"

int main() {
    return RunProgram();
}
