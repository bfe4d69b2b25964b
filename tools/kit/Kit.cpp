// Input errors, the command list and bounded file reading.
#include "tools/kit/Kit.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tools/hosttext/HostText.h"

namespace fs = std::filesystem;

namespace kit {

InputError::InputError(const std::string& input, const std::string& message)
    : std::runtime_error(hosttext::printable(input) + ": " + message)
{}

// A function-local list: registrations run during static initialisation.
static std::vector<Command>& registry()
{
    static std::vector<Command> list;
    return list;
}

bool registerCommand(Command command)
{
    registry().push_back(std::move(command));
    return true;
}

const std::vector<Command>& commands()
{
    return registry();
}

bool colourWanted()
{
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && (noColour == nullptr || *noColour == 0) &&
           !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

std::string versionRange(const cecab::CeVersion& min, const cecab::CeVersion& max)
{
    auto text = [](const cecab::CeVersion& v) {
        std::string t = std::to_string(v.major) + "." + std::to_string(v.minor);
        return v.build ? t + " build " + std::to_string(v.build) : t;
    };
    if (min.any() && max.any())
        return text(min) + " to " + text(max);
    if (min.any())
        return text(min) + " and later";
    return max.any() ? "up to " + text(max) : "any";
}

void requireFile(const std::string& path, const std::string& what)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        throw InputError(path, "no such file");
    if (fs::is_directory(status))
        throw InputError(path, "a directory, not " + what);
    if (!fs::is_regular_file(status))
        throw InputError(path, "not a regular file, so not " + what);
}

std::string readFile(const std::string& path, uint64_t limit)
{
    requireFile(path, "a file");
    std::error_code ec;
    uint64_t size = fs::file_size(path, ec);
    if (ec)
        throw InputError(path, "cannot be read: " + ec.message());
    if (size > limit)
        throw InputError(path, std::to_string(size) + " bytes, more than the " +
                                   std::to_string(limit) + " read here");
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(size)))
        throw InputError(path, "cannot be read");
    return bytes;
}

}  // namespace kit
