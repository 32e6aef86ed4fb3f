#include <iostream>

#include "cli/table_tool.h"

int main(int argc, char **argv) {
  return nexora::cli::RunTableTool(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout, std::cerr);
}
