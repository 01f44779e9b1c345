#include "output.h"

#include <cstdio>

namespace ftpbench {

std::map<std::string, std::vector<double>>* kept_figures = nullptr;
std::string figure_prefix;

void write_figure(const std::string& name, double value, const char* unit, int decimals) {
    std::printf("%s %.*f %s\n", name.c_str(), decimals, value, unit);
    std::fflush(stdout);
}

void print_figure(const std::string& name, double value, const char* unit, int decimals) {
    if (kept_figures) {
        (*kept_figures)[figure_prefix + name].push_back(value);
        return;
    }
    write_figure(figure_prefix + name, value, unit, decimals);
}

}  // namespace ftpbench
