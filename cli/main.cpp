#include "Cli.h"
#include "CliSystem.h"

#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char* argv[]) {
    kelvara::cli::PrepareStandardStreams();
    std::ios::sync_with_stdio(false);
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kelvara::cli::Run(args, std::cout, std::cerr);
}
