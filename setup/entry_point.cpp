#include "setup/entry_point.h"

int palvane_main(int, char**) { return 0; }
