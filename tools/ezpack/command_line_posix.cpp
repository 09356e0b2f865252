#include "command_line.h"

#include <filesystem>
#include <system_error>

#include "system/posix_path.h"

std::vector<Argument> CommandArguments(int argc, char** argv) {
    std::vector<Argument> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back({argv[i]});
    return arguments;
}

// The conversion to GBK finds a name it cannot hold: the path comes back empty.
bool ArgumentToPath(const Argument& argument, Text& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(argument.text, error);
    if (error) return false;
    path = FromPosixPath(absolute.lexically_normal().string());
    return !path.empty();
}
