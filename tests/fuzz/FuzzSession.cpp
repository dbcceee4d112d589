#include "FuzzSession.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

namespace fuzz
{

namespace
{
std::string makeSessionDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quillon-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("cannot make a directory like " + pattern);
    return buffer.data();
}

// A plain copy of the path: the string itself is gone by the time exit handlers run.
char removalPath[4096];
pid_t creator = 0;

void removeSessionDir()
{
    if (::getpid() != creator)  // a forked child leaves it to its parent
        return;
    std::error_code ignored;
    std::filesystem::remove_all(removalPath, ignored);
}
} // namespace

const std::string& sessionDir()
{
    static const std::string dir = [] {
        std::string made = makeSessionDir();
        std::snprintf(removalPath, sizeof removalPath, "%s", made.c_str());
        creator = ::getpid();
        std::atexit(removeSessionDir);
        return made;
    }();
    return dir;
}

void silenceSofaReports()
{
    std::cerr.rdbuf(nullptr);
}

void abortOnViolation(const std::string& inputPath, const CheckResult& result)
{
    std::fprintf(stderr, "\n==quillon-fuzz== rule broken for %s\n%s\n", inputPath.c_str(), result.violation.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
