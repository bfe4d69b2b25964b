// Runs the real vorlund-preview program on small install directories and
// checks its exit status and the lines that matter to the people packaging.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const std::string kSamples = std::string(VORLUND_SOURCE_DIR) + "/tests/preview/bundles/";
const std::string kExample = std::string(VORLUND_SOURCE_DIR) + "/examples/bundle";

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;

    // Whether some line of the output matches the pattern.
    bool has(const std::string& pattern) const { return !lines(pattern).empty(); }
    // The output lines that match, in order.
    std::vector<std::string> lines(const std::string& pattern) const
    {
        std::regex re(pattern);
        std::vector<std::string> found;
        std::istringstream text(out);
        for (std::string line; std::getline(text, line);) {
            if (std::regex_search(line, re))
                found.push_back(line);
        }
        return found;
    }
};

// An install directory written at test time, removed afterwards.
class TempBundle {
public:
    TempBundle()
    {
        std::string pattern = (fs::temp_directory_path() / "vorlund-preview-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        root_ = mkdtemp(name.data());
    }
    ~TempBundle() { fs::remove_all(root_); }
    TempBundle(const TempBundle&) = delete;
    TempBundle& operator=(const TempBundle&) = delete;

    // Writes a file with exactly these bytes, directories on the way.
    TempBundle& file(const std::string& name, const std::string& bytes = "CAB stand-in\n")
    {
        fs::create_directories((root_ / name).parent_path());
        std::ofstream(root_ / name, std::ios::binary) << bytes;
        return *this;
    }
    TempBundle& list(const std::string& bytes) { return file("Vorlund.ini", bytes); }
    TempBundle& directory(const std::string& name)
    {
        fs::create_directories(root_ / name);
        return *this;
    }
    std::string path() const { return root_.string(); }

private:
    fs::path root_;
};

Outcome preview(std::vector<std::string> args)
{
    std::string outTemplate = (fs::temp_directory_path() / "vorlund-preview-out-XXXXXX").string();
    std::string errTemplate = (fs::temp_directory_path() / "vorlund-preview-err-XXXXXX").string();
    std::vector<char> outName(outTemplate.c_str(), outTemplate.c_str() + outTemplate.size() + 1);
    std::vector<char> errName(errTemplate.c_str(), errTemplate.c_str() + errTemplate.size() + 1);
    int out = mkstemp(outName.data());
    int err = mkstemp(errName.data());
    args.insert(args.begin(), VORLUND_PREVIEW);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(out);
    close(err);
    Outcome r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(outName.data());
    r.err = slurp(errName.data());
    unlink(outName.data());
    unlink(errName.data());
    return r;
}

Outcome preview(const std::string& dir, std::vector<std::string> options = {})
{
    options.push_back(dir);
    return preview(options);
}

// The output of a run whose standard output is a terminal.
std::string previewOnTerminal(const std::string& dir, bool noColour)
{
    int terminal = -1;
    pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (noColour)
            setenv("NO_COLOR", "1", 1);
        setenv("TERM", "xterm", 1);
        execl(VORLUND_PREVIEW, VORLUND_PREVIEW, dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(terminal, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    close(terminal);
    waitpid(pid, nullptr, 0);
    return out;
}

// Every file of a tree with its bytes, to show that a run changed nothing.
std::map<std::string, std::string> snapshot(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir))
        files[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? slurp(e.path()) : "<dir>";
    return files;
}

// Whether the text parses as JSON, asked of the Python interpreter that the
// test command installs anyway (the Wine tier runs on it).
bool validJson(const std::string& text)
{
    std::string path = (fs::temp_directory_path() / "vorlund-preview-json-XXXXXX").string();
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    close(fd);
    std::ofstream(name.data(), std::ios::binary) << text;
    std::string command = "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                          std::string(name.data()) + " 2>/dev/null";
    int status = std::system(command.c_str());
    unlink(name.data());
    return status == 0;
}

// ---- the sample of the README ------------------------------------------------------

TEST(PreviewSample, ShowsWhatTheDeviceDoesInOrder)
{
    Outcome r = preview(kExample);
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> installs = r.lines(R"(install\s+\\windows\\wceload\.exe /nouninstall /noui ")");
    ASSERT_EQ(installs.size(), 3u);
    EXPECT_NE(installs[0].find(R"("\Program Files\Bundle\maps.cab")"), std::string::npos);
    EXPECT_NE(installs[1].find(R"("\Program Files\Bundle\viewer.cab")"), std::string::npos);
    EXPECT_NE(installs[2].find(R"("\Program Files\Bundle\help.cab")"), std::string::npos);
    EXPECT_EQ(r.lines(R"(^\s+[0-9.]+ s\s+delete\s+\\Program Files\\Bundle\\.*\.cab$)").size(), 4u);
    EXPECT_FALSE(r.has("delete.*notes.txt"));
    EXPECT_TRUE(r.has(R"(^\s+3\s+missing-fonts\.cab\s+skipped: no such file$)"));
    EXPECT_TRUE(r.has(R"(^\s+Vorlund\.ini:3\s+missing\s+"missing-fonts\.cab": no such file)"));
    EXPECT_TRUE(r.has(R"(^\s+extra\.cab\s+unlisted\s+not named in Vorlund\.ini: the sweep deletes it)"));
    EXPECT_TRUE(r.has(R"(^3 installer runs \(0 rejected\), 0 message boxes, 4 files deleted, 90\.25 s of device time; 2 warnings)"));
}

TEST(PreviewSample, LeavesTheDirectoryAsItWas)
{
    TempBundle b;
    b.list("a.cab\r\n").file("a.cab").file("b.cab").file("sub/c.cab");
    auto before = snapshot(b.path());
    EXPECT_EQ(preview(b.path()).status, 1);  // b.cab and sub\c.cab are unlisted
    EXPECT_EQ(preview(b.path(), {"--from-hook", "--no-launcher"}).status, 1);
    EXPECT_EQ(snapshot(b.path()), before);
}

TEST(PreviewSample, CleanBundleExitsZeroAndDrawsTheProgress)
{
    Outcome r = preview(kSamples + "clean");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.has("0 warnings, 0 notes$"));
    EXPECT_FALSE(r.has("Warnings:"));
    std::vector<std::string> window = r.lines(R"(\s+window\s+\[)");
    ASSERT_GE(window.size(), 3u) << r.out;
    // Range 0..25 for two CABs: 5, 15, 25 as the CABs go in, then done.
    EXPECT_NE(window.front().find("[####----------------]  20%  Installing CAB file 2... Please Wait..."),
              std::string::npos) << window.front();
    EXPECT_NE(window[1].find(" 60%  Installing CAB file 1..."), std::string::npos) << window[1];
    EXPECT_NE(window.back().find("[####################] 100%  Installing CAB files ... Done..."),
              std::string::npos) << window.back();
    // The window closes before the sweep.
    std::vector<std::string> tail = r.lines(R"(\s+(window|delete)\s+(closed|\\))");
    ASSERT_EQ(tail.size(), 3u) << r.out;
    EXPECT_NE(tail[0].find("window   closed"), std::string::npos);
    EXPECT_EQ(r.out.find('\033'), std::string::npos);  // no colour into a pipe
}

// ---- names of the list that the device skips -------------------------------------------

TEST(PreviewList, NamesEachSkippedNameWithItsLineAndNearMiss)
{
    Outcome r = preview(kSamples + "mistakes");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1\s+missing\s+"maps\.cab": no such file \(did you mean "maps\.CAB\.cab"\?\))"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2\s+missing\s+"veiwer\.cab": no such file \(did you mean "viewer\.cab"\?\))"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:4\s+directory\s+"docs\.cab": a directory)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:6\s+duplicate\s+"HELP\.CAB" repeats line 5: the device installs it twice)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:7\s+not-cab\s+"notes\.txt" does not end in \.cab)"));
    EXPECT_TRUE(r.has(R"(maps\.CAB\.cab\s+unlisted\s+not named in Vorlund\.ini: the sweep deletes it)"));
    EXPECT_TRUE(r.has(R"(sub\\extra\.cab\s+unlisted\s+not named in Vorlund\.ini: never installed \(it stays)"));
    // A case difference is no miss on the device: a note, not a warning.
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:6\s+case\s+"HELP\.CAB" names "help\.cab")"));
    EXPECT_TRUE(r.has(R"(sub\\fonts\.cab\s+stays\s+installed, and stays on the device)"));
    EXPECT_TRUE(r.has("8 warnings, 2 notes$"));
}

TEST(PreviewList, NearMissesOfTheExtension)
{
    TempBundle b;
    b.list("maps.cab\r\ntiles.cab\r\nroads.cab\r\n").file("maps.cabx").file("tiles").file("Roads.Cab.cab");
    Outcome r = preview(b.path());
    EXPECT_TRUE(r.has(R"(:1\s+missing\s+"maps\.cab": no such file \(did you mean "maps\.cabx"\?\))"));
    EXPECT_TRUE(r.has(R"(:2\s+missing\s+"tiles\.cab": no such file \(did you mean "tiles"\?\))"));
    EXPECT_TRUE(r.has(R"(:3\s+missing\s+"roads\.cab": no such file \(did you mean "Roads\.Cab\.cab"\?\))"));
}

TEST(PreviewList, ByteOrderMarkAndWhiteSpaceBecomePartOfTheName)
{
    TempBundle b;
    b.list("\xEF\xBB\xBFmaps.cab\r\n help.cab\r\nhelp.cab\t\r\nviewer.cab \r\n")
        .file("maps.cab").file("help.cab").file("viewer.cab");
    Outcome r = preview(b.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1\s+bom\s+starts with a UTF-8 byte-order mark.*"ï»¿maps\.cab")"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1\s+missing\s+"ï»¿maps\.cab": no such file \(did you mean "maps\.cab"\?\))"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2\s+whitespace\s+has a leading space)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:3\s+whitespace\s+has a trailing tab)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:3\s+missing\s+"help\.cab<TAB>")"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:4\s+whitespace\s+has a trailing space)"));
    EXPECT_TRUE(r.has(R"(^\s+2\s+" help\.cab"\s+skipped: no such file$)"));
    EXPECT_EQ(r.lines(R"(\s+unlisted\s+)").size(), 3u);  // none of the three is installed
}

TEST(PreviewList, TextTheDeviceCodePageReadsDifferently)
{
    TempBundle b;
    b.list("caf\xC3\xA9.cab\r\n\xD0\xBA.cab\r\nbad\x81.cab\r\nna\xEFve.cab\r\nctl\x0C.cab\r\n")
        .file("caf\xC3\xA9.cab").file("na\xC3\xAFve.cab").file("\xD0\xBA.cab");
    Outcome r = preview(b.path());
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1\s+encoding\s+is UTF-8 text \("café\.cab"\), but the device reads Windows-1252: "cafÃ©\.cab"; save the list as Windows-1252)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1\s+missing\s+"cafÃ©\.cab": no such file \(did you mean "café\.cab"\?\))"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2\s+encoding\s+.*"к" has no Windows-1252 form)"));
    EXPECT_TRUE(r.has(R"(^\s+к\.cab\s+unlisted\s+.*; no list can name it, as "к" has no Windows-1252 form$)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:3\s+encoding\s+holds the byte 0x81, which is no character in Windows-1252)"));
    // A list saved in Windows-1252 names a file that this machine spells in UTF-8.
    EXPECT_FALSE(r.has(R"(Vorlund\.ini:4\s)"));
    EXPECT_TRUE(r.has(R"(^\s+4\s+naïve\.cab\s+installed$)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:5\s+control\s+holds the control character <0x0C>)"));
}

TEST(PreviewList, NulByteLongNamesAndWildcards)
{
    TempBundle b;
    std::string longName(300, 'x');
    b.list("a.cab\r\n" + longName + ".cab\r\nv*.cab\r\nb" + '\0' + "c.cab\r\nc.cab\r\nd.cab\r\n")
        .file("a.cab").file("b").file("c.cab").file("d.cab").file("viewer.cab");
    Outcome r = preview(b.path());
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2\s+too-long\s+304 bytes long: the device passes over names longer than 255 bytes)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:3\s+wildcard\s+"v\*\.cab" holds a wildcard: the device's check finds "viewer\.cab")"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:4\s+nul\s+holds a NUL byte)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:4\s+partial\s+the device reads only "b" of this line)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:5-6\s+unread\s+never read: the NUL byte on line 4)"));
    EXPECT_TRUE(r.has(R"(^\s+4\s+b\s+installed \(not the whole line\)$)"));
    EXPECT_TRUE(r.has(R"(c\.cab\s+unlisted)"));
}

TEST(PreviewList, LinesPastTheFirstReadBlockKeepTheirNumbers)
{
    // 584 names and a blank line fill 4090 bytes; the name on line 586 runs
    // across the end of the device's first 4096-byte read.
    std::string list;
    for (int i = 0; i < 584; ++i)
        list += "a.cab\r\n";
    list += "\r\ncutacross.cab\r\nmissing.cab\r\n";
    ASSERT_EQ(list.find("cutacross"), 4090u);
    TempBundle b;
    b.list(list).file("a.cab").file("cutacross.cab");
    Outcome r = preview(b.path());
    EXPECT_TRUE(r.has(R"(^\s+586\s+cutacross\.cab\s+installed$)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:587\s+missing\s+"missing\.cab")"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2-584\s+duplicate\s+"a\.cab" repeats line 1)"));
}

TEST(PreviewList, EmptyUtf16AndAbsentLists)
{
    TempBundle empty;
    empty.list("\r\n\r\n").file("a.cab");
    Outcome r = preview(empty.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(R"(Vorlund\.ini\s+empty-list\s+Vorlund\.ini names no CAB: nothing is installed)"));
    EXPECT_TRUE(r.has(R"(a\.cab\s+unlisted)"));

    TempBundle utf16;
    utf16.list(std::string("\xFF\xFEm\0a\0p\0.\0c\0a\0b\0\r\0\n\0", 20)).file("map.cab");
    r = preview(utf16.path());
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1\s+encoding\s+the list is UTF-16 text)"));
    EXPECT_TRUE(r.has(R"(map\.cab\s+unlisted)"));

    TempBundle none;
    none.file("a.cab");
    r = preview(none.path());
    EXPECT_TRUE(r.has(R"(message\s+\[Brannoch Software\] Installation Failed\. Error: Cannot locate CAB file list: Vorlund\.ini\.)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini\s+no-list\s+missing: the launcher says it cannot locate the CAB file list)"));
    EXPECT_TRUE(r.has(R"(delete\s+\\Program Files\\Bundle\\a\.cab$)"));
}

// ---- the directory's own entries -----------------------------------------------------

TEST(PreviewDirectory, AttributesChangeWhatIsInstalledAndSwept)
{
    TempBundle b;
    b.list("a.cab\r\nb.cab\r\nc.cab\r\n").file("a.cab").file("b.cab").file("c.cab").file("d.cab").file("e.cab");
    Outcome r = preview(b.path(), {"--hidden", "b.cab", "--system", "c.cab", "--read-only", "a.cab"});
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2\s+hidden\s+"b\.cab": hidden; the device skips it)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:3\s+system\s+"c\.cab": system; the device skips it)"));
    EXPECT_TRUE(r.has(R"(a\.cab\s+left-behind\s+installed, but stays on the device: it is read-only)"));
    // The sweep ends at the hidden b.cab: d.cab and e.cab stay, never installed.
    EXPECT_TRUE(r.has(R"(b\.cab\s+left-behind\s+never installed, and stays on the device: it is hidden, and the sweep ends at it)"));
    EXPECT_TRUE(r.has(R"(e\.cab\s+left-behind\s+.*the sweep ends at "b\.cab" before it)"));
    EXPECT_EQ(r.lines(R"(\s+delete\s)").size(), 1u);  // only a.cab is tried, and it cannot go
}

TEST(PreviewDirectory, NamesTheDeviceCannotHold)
{
    TempBundle b;
    b.list("maps.cab\r\n").file("Maps.cab").file("maps.cab").file("what?.cab");
    Outcome r = preview(b.path());
    EXPECT_TRUE(r.has(R"(maps\.cab\s+name-clash\s+is the same name on the device as "Maps\.cab")"));
    EXPECT_TRUE(r.has(R"(what\?\.cab\s+bad-file-name\s+no device can hold this name)"));
    EXPECT_EQ(r.lines(R"(\s+delete\s)").size(), 1u);
}

// ---- rehearsed failures -----------------------------------------------------------------

TEST(PreviewFailures, RejectedCabIsCountedDoneAndDeleted)
{
    Outcome r = preview(kSamples + "clean", {"--reject", "second.cab"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(R"(install\s+.*"\\Program Files\\Bundle\\second\.cab"  -> rejected, exit code 1$)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:2\s+rejected\s+"second\.cab": the installer rejected it)"));
    EXPECT_TRUE(r.has(R"(delete\s+\\Program Files\\Bundle\\second\.cab$)"));
    EXPECT_FALSE(r.has(R"( s\s+message\s)"));
    EXPECT_TRUE(r.has(R"(^2 installer runs \(1 rejected\), 0 message boxes)"));
}

TEST(PreviewFailures, InstallerThatCannotStartSkipsTheRestOfTheBlock)
{
    Outcome r = preview(kSamples + "clean", {"--no-installer"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(R"(install\s+\\windows\\wceload\.exe  cannot be started$)"));
    EXPECT_EQ(r.lines(R"(message\s+\[Brannoch Software\] Installation Failed\. Error: Cannot unpack all CAB file\.$)").size(), 1u);
    EXPECT_TRUE(r.has(R"(installer-failed\s+could not be started \(1 time\))"));
    EXPECT_TRUE(r.has(R"(Vorlund\.ini:1-2\s+not-installed\s+never installed: the installer failed)"));
    EXPECT_EQ(r.lines(R"(\s+delete\s)").size(), 2u);
}

TEST(PreviewFailures, NoListDeletesEveryCab)
{
    Outcome r = preview(kSamples + "clean", {"--no-list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.has("as the device reads it"));
    // The window stays as it was created, empty, while the message shows.
    EXPECT_EQ(r.lines(R"(\s+window\s)").size(), 1u);
    EXPECT_TRUE(r.has(R"(\s+window\s+\[-{20}\]   0%  \(no text\)$)"));
    EXPECT_TRUE(r.has(R"(Cannot locate CAB file list: Vorlund\.ini\.$)"));
    EXPECT_TRUE(r.has(R"(no-list\s+left out \(--no-list\))"));
    EXPECT_EQ(r.lines(R"(\s+delete\s)").size(), 2u);
    EXPECT_FALSE(r.has("install "));
}

TEST(PreviewHook, WholeRoadFromTheSetupHook)
{
    Outcome r = preview(kSamples + "clean", {"--from-hook"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> steps = r.lines(R"(^\s+[0-9.]+ s\s+\w+\s|^  (setup hook|launcher) \()");
    ASSERT_GE(steps.size(), 7u) << r.out;
    EXPECT_NE(steps[0].find("setup hook (Install_Exit"), std::string::npos);
    EXPECT_NE(steps[1].find("message  [Brannoch Software] Please press the OK button."), std::string::npos);
    EXPECT_NE(steps[2].find(R"(start    \Program Files\Bundle\Vorlund.exe)"), std::string::npos);
    EXPECT_NE(steps[3].find(R"(registry delete key Software\TqVorlund)"), std::string::npos);
    EXPECT_NE(steps[4].find("launcher (Vorlund.exe)"), std::string::npos);
    // The launcher waits for the main package's installer to close first.
    EXPECT_NE(steps[5].find("0.25 s  wait     1.75 s for the installer already running"), std::string::npos);
    EXPECT_EQ(r.lines(R"(install\s+\\windows\\wceload\.exe /nouninstall)").size(), 2u);
}

TEST(PreviewHook, MissingLauncherSweepsFromTheHook)
{
    Outcome r = preview(kSamples + "clean", {"--from-hook", "--no-launcher"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(R"(message\s+\[Brannoch Software\] Installation Failed\. Error: Cannot locate registry launcher: Vorlund\.exe\.)"));
    EXPECT_TRUE(r.has(R"(Vorlund\.exe\s+no-launcher\s+the setup hook finds no launcher)"));
    EXPECT_EQ(r.lines(R"(\s+delete\s+\\Program Files)").size(), 2u);
    EXPECT_FALSE(r.has("launcher \\(Vorlund.exe\\)"));
    EXPECT_FALSE(r.has("not-installed"));  // the one cause says it all
}

// ---- the command line ------------------------------------------------------------------

TEST(PreviewCommandLine, UsageErrorsExitTwoWithAMessage)
{
    Outcome help = preview(std::vector<std::string>{"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: vorlund-preview [options] DIR"), std::string::npos);
    EXPECT_NE(help.out.find("exit status: 0"), std::string::npos);

    TempBundle b;
    b.list("a.cab\r\n").file("a.cab").file("Vorlund.exe");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no DIR given"},
        {{b.path() + "/missing"}, "no such directory"},
        {{b.path() + "/a.cab"}, "not a directory"},
        {{"--frobnicate", b.path()}, "unknown option --frobnicate"},
        {{"--no-launcher", b.path()}, "use it with --from-hook"},
        {{"--reject", "b.cab", b.path()}, "--reject b.cab: the device installs no CAB of that name"},
        {{"--hidden", "b.cab", b.path()}, "no entry b.cab"},
        {{"--device-dir", "Program Files", b.path()}, "starts with a backslash"},
        {{b.path(), b.path()}, "one DIR only"},
        {{"--reject"}, "--reject needs a value"},
    };
    for (const Case& c : cases) {
        Outcome r = preview(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << c.message;
    }
    EXPECT_EQ(preview(b.path()).status, 0);
    EXPECT_EQ(preview(b.path(), {"--reject=a.cab"}).status, 1);
}

TEST(PreviewCommandLine, ColourOnlyOnATerminal)
{
    std::string coloured = previewOnTerminal(kExample, false);
    EXPECT_NE(coloured.find("\033[33mmissing"), std::string::npos) << coloured;
    EXPECT_EQ(previewOnTerminal(kExample, true).find('\033'), std::string::npos);
}

TEST(PreviewCommandLine, JsonCarriesTheSameFacts)
{
    Outcome r = preview(kExample, {"--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(validJson(r.out)) << r.out;
    EXPECT_TRUE(r.has(R"("code": "missing", "line": 3, "lastLine": 3, "where": "Vorlund.ini:3")"));
    EXPECT_TRUE(r.has(R"("code": "unlisted", "file": "extra.cab")"));
    EXPECT_TRUE(r.has(R"("kind": "install", "program": "\\\\windows\\\\wceload.exe", "commandLine": " /nouninstall /noui \\"\\\\Program Files\\\\Bundle\\\\maps.cab\\"", "exitCode": 0)"));
    EXPECT_TRUE(r.has(R"("bar": \{"lower": 0, "upper": 35, "position": 5, )"));
    EXPECT_TRUE(r.has(R"("summary": \{"installerRuns": 3, "rejected": 0, "messageBoxes": 0, "deleted": 4, "deviceTimeMs": 90250, "warnings": 2)"));
    EXPECT_TRUE(r.has(R"("exitStatus": 1)"));

    // Names with every awkward byte still give valid JSON.
    TempBundle b;
    b.list(std::string("q\"uote\\.cab\r\n\t\x01\x7F\xC3\xA9") + '\0' + "x\r\n").file("a.cab");
    Outcome awkward = preview(b.path(), {"--json"});
    EXPECT_TRUE(validJson(awkward.out)) << awkward.out;
}

}  // namespace
