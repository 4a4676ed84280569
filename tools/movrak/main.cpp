// A stand-in for the converter that the wizard runs. It takes the converter's command
// line, checks it, prints its progress as plain text lines on standard output and
// exits 0 on success, so that the wizard can be run end to end and tested without
// the real program.
//
//   Movrak <project.dpj> <destination folder> <installation folder> -pn <name>
//          [-mp <message personality>] [-ap <analyser personality>]
//          [-cp <compiler personality>] [-ext <extensions>]
//
// For tests and benchmarks its behaviour can be steered through the environment.
// These act first, in this order, before the conversion itself:
//   MOVRAK_ARGS_FILE=path    write the arguments to path, one per line
//   MOVRAK_STDERR_BYTES=n    write n bytes to standard error
//   MOVRAK_BYTES=text        write text to standard output; \n, \r, \\ and \xHH escapes
//   MOVRAK_LONG_LINE=n       write one line of n bytes (no blanks, no line break)
//   MOVRAK_LINES=n           write n numbered lines of 80 bytes each
//   MOVRAK_SHAPE=mixed       ... of 12 to 200 bytes instead: line i (1-based) has
//                            12 + (i * 7919) % 189 bytes, its line feed included
//   MOVRAK_SHAPE=paths       ... of 82 to 280 bytes, 82 + (i * 7919) % 199: the number
//                            and a Windows path of a file taken over, as a converter
//                            on Windows prints them (most are wider than the log)
//   MOVRAK_SHAPE=scripts     ... the number and one of movrakScripts[i % 4]: Cyrillic,
//                            Greek, Japanese, Hebrew
//   MOVRAK_FLUSH=line|end    flush after every line (default) or only at the end
//   MOVRAK_RATE=n            write at most n lines a second
//   MOVRAK_GRANDCHILD=s      leave a process behind that holds standard output open
//                            for s seconds, and print "grandchild <pid>"
//   MOVRAK_SLEEP_MS=n        sleep n milliseconds
//   MOVRAK_CRASH=1           die by a signal (abort; on Windows an illegal instruction)
//   MOVRAK_EXIT_CODE=n       exit with n, skipping the conversion

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char *environment(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value ? value : nullptr;
}

long long environmentNumber(const char *name, long long fallback)
{
    const char *value = environment(name);
    return value ? std::strtoll(value, nullptr, 10) : fallback;
}

std::string unescape(const char *text)
{
    std::string bytes;
    for (const char *p = text; *p; ++p) {
        if (*p != '\\' || !p[1]) {
            bytes += *p;
            continue;
        }
        switch (*++p) {
        case 'n':
            bytes += '\n';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 'x':
            if (p[1] && p[2]) {
                bytes += static_cast<char>(std::stoi(std::string(p + 1, 2), nullptr, 16));
                p += 2;
            }
            break;
        default:
            bytes += *p;
        }
    }
    return bytes;
}

// Lines in other scripts, in UTF-8 (the benchmark checks them against the same list).
const char *const movrakScripts[] = {
    "\u043a\u043e\u043c\u043f\u0438\u043b\u044f\u0446\u0438\u044f \u0444\u0430\u0439\u043b\u0430 "
    "\u0434\u0440\u0430\u0439\u0432\u0435\u0440\u0430",
    "\u03bc\u03b5\u03c4\u03b1\u03b3\u03bb\u03ce\u03c4\u03c4\u03b9\u03c3\u03b7 \u03c4\u03bf\u03c5 "
    "\u03b1\u03c1\u03c7\u03b5\u03af\u03bf\u03c5",
    "\u30c9\u30e9\u30a4\u30d0\u306e\u30bd\u30fc\u30b9\u3092\u30b3\u30f3\u30d1\u30a4\u30eb\u4e2d",
    "\u05e7\u05d5\u05de\u05e4\u05d9\u05dc\u05e6\u05d9\u05d4 \u05e9\u05dc \u05e7\u05d5\u05d1\u05e5",
};

void writeLines(long long count, const std::string &shape, bool flushEachLine,
                long long linesPerSecond)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const bool mixed = shape == "mixed", paths = shape == "paths";
    std::string text = "converting source files of the project, one line of progress; "
            + std::string(200, '.');
    if (paths) {
        text = "adding C:\\Program Files\\VisualDSP 5.0\\Examples\\Board Support\\src";
        for (int folder = 1; text.size() < 300; ++folder)
            text += "\\driver sources " + std::to_string(folder);
    }
    char line[320];
    for (long long i = 0; i < count; ++i) {
        if (shape == "scripts") {
            std::fprintf(stdout, "%09lld %s\n", i + 1, movrakScripts[(i + 1) % 4]);
            if (flushEachLine)
                std::fflush(stdout);
            continue;
        }
        const int bytes = mixed ? int(12 + (i + 1) * 7919 % 189)
                : paths         ? int(82 + (i + 1) * 7919 % 199)
                                : 80;
        std::snprintf(line, sizeof line, "%09lld %-*.*s\n", i + 1, bytes - 11, bytes - 11,
                      text.c_str());
        if (paths) // the file's extension ends the path
            std::memcpy(line + bytes - 5, ".cpp", 4);
        std::fwrite(line, 1, static_cast<size_t>(bytes), stdout);
        if (flushEachLine)
            std::fflush(stdout);
        if (linesPerSecond > 0) {
            const auto due = start + std::chrono::microseconds((i + 1) * 1000000 / linesPerSecond);
            if (due > Clock::now() + std::chrono::milliseconds(1)) {
                std::fflush(stdout);
                std::this_thread::sleep_until(due);
            }
        }
    }
    std::fflush(stdout);
}

#ifdef _WIN32
std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

// The arguments as the C runtime's wide command-line parser gives them, in UTF-8: the
// narrow argv would have turned every letter outside the ANSI code page into "?".
std::vector<std::string> commandLine()
{
    int count = 0;
    wchar_t **words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(utf8(words[i]));
    LocalFree(words);
    return arguments;
}

fs::path pathOf(const std::string &text)
{
    return fs::u8path(text);
}
#else
std::vector<std::string> commandLine(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

fs::path pathOf(const std::string &text)
{
    return fs::path(text);
}
#endif

void leaveGrandchild(long long seconds)
{
#ifndef _WIN32
    std::fflush(stdout);
    const pid_t grandchild = fork();
    if (grandchild == 0) {
        // The grandchild inherits standard output and keeps it open while it sleeps.
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        _exit(0);
    }
    std::printf("grandchild %d\n", static_cast<int>(grandchild));
    std::fflush(stdout);
#else
    // The grandchild is this program again, told to sleep; it inherits standard output.
    std::fflush(stdout);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command
            = L"\"" + std::wstring(self) + L"\" --sleep " + std::to_wstring(seconds * 1000);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        std::printf("grandchild %lu\n", process.dwProcessId);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::fflush(stdout);
#endif
}

void runTestSwitches(const std::vector<std::string> &arguments)
{
    if (const char *path = environment("MOVRAK_ARGS_FILE")) {
        std::ofstream file(pathOf(path), std::ios::binary);
        for (size_t i = 1; i < arguments.size(); ++i)
            file << arguments[i] << '\n';
    }
    if (const long long count = environmentNumber("MOVRAK_STDERR_BYTES", 0); count > 0) {
        const std::string block(65536, 'e');
        for (long long left = count; left > 0; left -= static_cast<long long>(block.size()))
            std::fwrite(block.data(), 1, static_cast<size_t>(std::min<long long>(left, 65536)),
                        stderr);
    }
    if (const char *text = environment("MOVRAK_BYTES")) {
        const std::string bytes = unescape(text);
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    }
    if (const long long count = environmentNumber("MOVRAK_LONG_LINE", 0); count > 0) {
        const std::string block(65536, 'x');
        for (long long left = count; left > 0; left -= static_cast<long long>(block.size()))
            std::fwrite(block.data(), 1, static_cast<size_t>(std::min<long long>(left, 65536)),
                        stdout);
        std::fflush(stdout);
    }
    if (const long long count = environmentNumber("MOVRAK_LINES", 0); count > 0) {
        const char *flush = environment("MOVRAK_FLUSH");
        const bool flushEachLine = !flush || std::string(flush) != "end";
        if (!flushEachLine)
            std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
        const char *shape = environment("MOVRAK_SHAPE");
        writeLines(count, shape ? shape : "", flushEachLine, environmentNumber("MOVRAK_RATE", 0));
    }
    if (const long long seconds = environmentNumber("MOVRAK_GRANDCHILD", 0); seconds > 0)
        leaveGrandchild(seconds);
    if (const long long milliseconds = environmentNumber("MOVRAK_SLEEP_MS", 0); milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    if (environment("MOVRAK_CRASH")) {
        std::fflush(stdout);
#ifdef _WIN32
        // abort() ends a Windows program with code 3, an ordinary failure.
        __builtin_trap();
#else
        std::abort();
#endif
    }
    if (environment("MOVRAK_EXIT_CODE")) {
        std::fflush(stdout);
        std::exit(static_cast<int>(environmentNumber("MOVRAK_EXIT_CODE", 0)));
    }
}

int usage(const std::string &problem)
{
    // On standard output, like everything else: the wizard shows only that.
    std::fprintf(stdout,
                 "Movrak: %s\n"
                 "usage: Movrak <project.dpj> <destination folder> <installation folder> "
                 "-pn <name>\n"
                 "              [-mp <message personality>] [-ap <analyser personality>]\n"
                 "              [-cp <compiler personality>] [-ext <extensions>]\n",
                 problem.c_str());
    return 2;
}

void say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    // The bytes as they are: in text mode every "\n" written would become "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    const std::vector<std::string> given = commandLine();
    if (given.size() == 3 && given[1] == "--sleep") { // the grandchild
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoll(given[2])));
        return 0;
    }
#else
    const std::vector<std::string> given = commandLine(argc, argv);
#endif
    runTestSwitches(given);

    const std::vector<std::string> arguments(given.begin() + 1, given.end());
    if (arguments.size() < 5)
        return usage("too few arguments");
    if (arguments[3] != "-pn")
        return usage("the fourth argument must be -pn");
    std::map<std::string, std::string> options;
    for (size_t i = 5; i < arguments.size(); i += 2) {
        const std::string &option = arguments[i];
        if (option != "-mp" && option != "-ap" && option != "-cp" && option != "-ext")
            return usage("unknown option " + option);
        if (i + 1 >= arguments.size())
            return usage("option " + option + " needs a value");
        if (!options.emplace(option, arguments[i + 1]).second)
            return usage("option " + option + " given twice");
    }

    const std::string &project = arguments[0];
    const std::string &destination = arguments[1];
    const std::string &installation = arguments[2];
    const std::string &name = arguments[4];
    std::error_code error;
    const auto fail = [](const std::string &message) {
        say("Error: " + message);
        return 1;
    };
    say("Movrak stand-in converter");
    say("Reading VisualDSP project " + project);
    if (!fs::exists(pathOf(project), error))
        return fail("project file " + project + " not found");
    say("Using VisualDSP installation " + installation);
    if (!fs::is_directory(pathOf(installation), error))
        return fail("installation directory " + installation + " not found");
    if (!fs::is_directory(pathOf(destination), error))
        return fail("destination folder " + destination + " not found");
    if (name.empty())
        return fail("the project has no name");
    for (const auto &[option, label] :
         { std::pair { "-mp", "message personality" }, std::pair { "-ap", "analyser personality" },
           std::pair { "-cp", "compiler personality" } }) {
        const auto found = options.find(option);
        if (found == options.end())
            continue;
        if (!fs::exists(pathOf(found->second), error))
            return fail(std::string(label) + " " + found->second + " not found");
        say(std::string("Using ") + label + " " + found->second);
    }
    const auto extensions = options.find("-ext");
    say("Taking over files with the extensions: "
        + (extensions == options.end() ? std::string("(none)") : extensions->second));
    say("Creating project " + name + " in " + destination);
    say("Project " + name + " written.");
    return 0;
}
