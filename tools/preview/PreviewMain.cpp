// vorlund-preview: rehearses a device installation of an install directory on
// this machine and says what the device would skip or delete without a word.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "device/DeviceServices.h"
#include "tools/preview/Bundle.h"
#include "tools/preview/HostText.h"
#include "tools/preview/Rehearsal.h"
#include "tools/preview/Report.h"

using namespace preview;

namespace {

const char kUsage[] =
    "usage: vorlund-preview [options] DIR\n"
    "\n"
    "Rehearses the installation of the install directory DIR (Vorlund.ini, the CAB\n"
    "files, the launcher) on a simulated device: runs the launcher's own logic there\n"
    "with a stand-in platform installer that accepts every CAB, prints what the\n"
    "device does, and warns about everything it would skip or delete without a word.\n"
    "DIR itself is only read.\n"
    "\n"
    "options:\n"
    "  --reject NAME      the installer rejects the CAB NAME, as listed (repeatable)\n"
    "  --no-installer     the platform installer cannot be started\n"
    "  --no-list          rehearse without Vorlund.ini\n"
    "  --from-hook        start where the device starts: the setup hook's Install_Exit\n"
    "                     finds the directory in the registry and starts the launcher\n"
    "  --no-launcher      with --from-hook: the directory holds no Vorlund.exe\n"
    "  --hidden NAME      the entry NAME of DIR is hidden on the device (repeatable)\n"
    "  --system NAME      the entry NAME of DIR is a system file (repeatable)\n"
    "  --read-only NAME   the entry NAME of DIR is read-only (repeatable)\n"
    "  --device-dir PATH  the install directory on the device\n"
    "                     (default \\Program Files\\Bundle)\n"
    "  --json             machine-readable output\n"
    "  --help             this text\n"
    "\n"
    "exit status: 0 the rehearsal ran clean, 1 it warned, 2 usage error or DIR\n"
    "cannot be read.\n";

// Options with a value accept "--name VALUE" and "--name=VALUE".
bool takeValue(int argc, char** argv, int* i, const char* name, std::string* value)
{
    size_t n = std::strlen(name);
    const char* arg = argv[*i];
    if (std::strncmp(arg, name, n) != 0)
        return false;
    if (arg[n] == '=') {
        *value = arg + n + 1;
        return true;
    }
    if (arg[n] != 0)
        return false;
    if (*i + 1 >= argc)
        throw UsageError(std::string(name) + " needs a value");
    *value = argv[++*i];
    return true;
}

std::wstring deviceDirectory(const std::string& given)
{
    std::wstring dir = deviceName(given);
    for (wchar_t& c : dir)
        c = c == L'/' ? L'\\' : c;
    if (dir.empty() || dir[0] != L'\\')
        throw UsageError("--device-dir " + given + ": a device path starts with a backslash");
    while (dir.size() > 1 && dir.back() == L'\\')
        dir.pop_back();
    if (dir == L"\\")
        throw UsageError("--device-dir: the root is no install directory");
    return dir + L"\\";
}

Options parse(int argc, char** argv, bool* help)
{
    Options o;
    bool haveDirectory = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            *help = true;
            return o;
        } else if (arg == "--no-installer") {
            o.noInstaller = true;
        } else if (arg == "--no-list") {
            o.noList = true;
        } else if (arg == "--from-hook") {
            o.fromHook = true;
        } else if (arg == "--no-launcher") {
            o.noLauncher = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (takeValue(argc, argv, &i, "--reject", &value)) {
            o.reject.push_back(value);
        } else if (takeValue(argc, argv, &i, "--hidden", &value)) {
            o.attributes.push_back({value, device::kAttrHidden});
        } else if (takeValue(argc, argv, &i, "--system", &value)) {
            o.attributes.push_back({value, device::kAttrSystem});
        } else if (takeValue(argc, argv, &i, "--read-only", &value)) {
            o.attributes.push_back({value, device::kAttrReadOnly});
        } else if (takeValue(argc, argv, &i, "--device-dir", &value)) {
            o.deviceDirectory = deviceDirectory(value);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            throw UsageError("unknown option " + arg);
        } else {
            if (arg == "--" && i + 1 < argc)
                arg = argv[++i];
            if (haveDirectory)
                throw UsageError("one DIR only (" + o.directory + ", " + arg + ")");
            o.directory = arg;
            haveDirectory = true;
        }
    }
    if (!haveDirectory)
        throw UsageError("no DIR given");
    if (o.noLauncher && !o.fromHook)
        throw UsageError("--no-launcher rehearses the setup hook: use it with --from-hook");
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        bool help = false;
        options = parse(argc, argv, &help);
        if (help) {
            std::cout << kUsage;
            return 0;
        }
        Bundle bundle = readBundle(options.directory);
        Result result = rehearse(options, bundle);
        int status = result.count(true) > 0 ? 1 : 0;
        if (options.json) {
            writeJson(std::cout, options, result, status);
        } else {
            const char* noColour = std::getenv("NO_COLOR");
            const char* term = std::getenv("TERM");
            bool colour = isatty(STDOUT_FILENO) && (noColour == nullptr || *noColour == 0) &&
                          !(term != nullptr && std::strcmp(term, "dumb") == 0);
            writeText(std::cout, options, result, colour);
        }
        return status;
    } catch (const UsageError& e) {
        std::cerr << "vorlund-preview: " << e.what()
                  << "\n(vorlund-preview --help tells how to use it)\n";
        return 2;
    } catch (const BundleError& e) {
        std::cerr << "vorlund-preview: " << e.what() << "\n";
        return 2;
    }
}
