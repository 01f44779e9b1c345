// Where the figures go: one line "name value unit" each on standard output,
// or kept by name during a soak.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace ftpbench {

// During a soak the workloads' own figures are kept here, by name, instead of
// printed: the soak prints a summary of each minute. Only the main thread
// prints figures, so this needs no lock.
extern std::map<std::string, std::vector<double>>* kept_figures;

// Written before the name of every workload figure: "held_" while held
// sessions are open, so that those figures stand beside the plain ones.
extern std::string figure_prefix;

// One figure per line, flushed at once so that a caller sees progress.
void write_figure(const std::string& name, double value, const char* unit, int decimals);

// A workload's figure, its name after figure_prefix: written, or kept during
// a soak.
void print_figure(const std::string& name, double value, const char* unit, int decimals);

}  // namespace ftpbench
