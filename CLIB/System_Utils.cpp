#include "System_Utils.h"

#include <unistd.h>

bool IsRoot() { return geteuid() == 0; }
