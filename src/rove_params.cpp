#include "rove_params.h"

Parameters g_params;
std::vector<std::string> g_debug;
