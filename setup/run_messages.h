// The texts around the analysis: the start-up banner, the "Options in
// effect" echo, the .options file content and the total-time line.
#pragma once
#include <sys/time.h>

#include <string>

// The prefix of the indented detail lines of standard output.
inline constexpr char kDetail[] = "      -  ";

// The banner, from its leading newline to the end of the notice block.
std::string banner_text();
// The settings echo as the current RunSettings give it.
std::string settings_echo_text();
// The .options file: an empty line, then every argument followed by a blank.
std::string options_file_text(int argc, char** argv);
// The total-time line for clock readings taken before and after the analysis.
std::string total_time_text(const timeval& before, const timeval& after);
