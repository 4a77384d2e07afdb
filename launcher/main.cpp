#include "Launcher.h"

int main(int argc, char** argv) { return LauncherMain(argc > 0 ? argv[0] : nullptr); }
