// The program's entry: everything main does, in a function the tests can reach.
#pragma once

int palvane_main(int argc, char** argv);
