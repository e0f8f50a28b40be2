// mirva-cam: command-line client of the camera server (see cli.h).
#include <iostream>

#include "cli.h"

int main(int argc, char** argv) { return mirva::cli::run(argc, argv, std::cout, std::cerr); }
