#include "setup/entry_point.h"

int main(int argc, char** argv) { return palvane_main(argc, argv); }
