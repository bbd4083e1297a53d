// The program's entry: everything main does (main.cpp only calls it). Returns
// the exit status.
#pragma once

int palvane_main(int argc, char** argv);
