// Runs the real quillon-convert executable: exit codes, standard output, files.

#include "fixtures/Files.h"
#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace
{
struct ToolRun
{
    int status = -1;
    std::string out;
    std::string err;
};

using fixture::exists;
using fixture::readFile;

// Starts the tool with stdout and stderr sent to files in dir; HOME points into dir.
pid_t start(const fixture::TempDir& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> all = { QUILLON_CONVERT_EXE };
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStrings = { "HOME=" + dir.file("home"), "XDG_CONFIG_HOME=" + dir.file("home/.config"),
                                            "PATH=/usr/bin:/bin" };
    std::vector<char*> env;
    for (std::string& e : envStrings)
        env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

ToolRun finish(const fixture::TempDir& dir, pid_t pid)
{
    ToolRun run;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    run.out = readFile(dir.file("stdout"));
    run.err = readFile(dir.file("stderr"));
    return run;
}

ToolRun runTool(const fixture::TempDir& dir, const std::vector<std::string>& args)
{
    return finish(dir, start(dir, args));
}

fixture::SofaFixture smallSet()
{
    fixture::SofaFixture f;
    f.N = 16;
    return f;
}
} // namespace

TEST(QuillonConvert, ConvertsAFileAndPrintsWhatTheStatusBoxWould)
{
    fixture::TempDir dir;
    fixture::writeSofa(dir.file("in.sofa"), smallSet());
    const ToolRun run = runTool(dir, { "--treatment", "crop", "--threshold", "-30", dir.file("in.sofa"), dir.file("out") });
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.rfind("==========\nSOFA filename: " + dir.file("in.sofa") + "\nsampling rate: 48000\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("sucessfully wrote TN file: " + dir.file("out/in") + "\n"), std::string::npos);
    EXPECT_NE(readFile(dir.file("out/in.txt")).find("% flags: ITD_extracted\r\n"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

TEST(QuillonConvert, RelativePathsAndDefaultOutputDirectory)
{
    fixture::TempDir dir;
    fixture::writeSofa(dir.file("rel.sofa"), smallSet());
    // Relative to the working directory: run from dir through a relative input.
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const ToolRun run = runTool(dir, { "rel.sofa" });
    std::filesystem::current_path(previous);
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string out = dir.file("home/.config/Kelvane/TarnfieldHRTFs/rel");
    EXPECT_TRUE(exists(out)) << run.out;
    EXPECT_NE(readFile(out + ".txt").find("\r\n48000 1 72 2 16 0\r\n"), std::string::npos) << "minimum phase by default";
    EXPECT_FALSE(exists(dir.file("home/.config/Kelvane/Quillon"))) << "no settings file";
}

TEST(QuillonConvert, ExitCodes)
{
    fixture::TempDir dir;
    fixture::SofaFixture broken = smallSet();
    broken.R = 3;
    fixture::writeSofa(dir.file("broken.sofa"), broken);
    std::ofstream(dir.file("plainfile")) << "x";

    struct Case
    {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        { { dir.file("missing.sofa"), dir.file("o") }, 1, "Error, input '" + dir.file("missing.sofa") + "' doesn't exist\n" },
        { { dir.file("broken.sofa"), dir.file("plainfile/sub") }, 1, "Error creating output dir '" + dir.file("plainfile/sub") + "'\n" },
        { { dir.file("broken.sofa"), dir.file("o") }, 1, "" },
        { {}, 2, "" },
        { { "--treatment", "loud", "x" }, 2, "" },
        { { "--threshold", "12.5", "x" }, 2, "" },
        { { "--bogus", "x" }, 2, "" },
        { { "a", "b", "c" }, 2, "" },
    };
    for (const Case& c : cases)
    {
        const ToolRun run = runTool(dir, c.args);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        if (!c.out.empty())
        {
            EXPECT_EQ(run.out, c.out);
        }
        if (c.status == 2)
        {
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find("Try 'quillon-convert --help'"), std::string::npos) << run.err;
        }
    }
    const ToolRun broken3 = runTool(dir, { dir.file("broken.sofa"), dir.file("o") });
    EXPECT_NE(broken3.out.find("expected two receivers\n"), std::string::npos);

    const ToolRun help = runTool(dir, { "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: quillon-convert"), std::string::npos);
    const ToolRun version = runTool(dir, { "--version" });
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillon-convert 1.0.0\n");
}

TEST(QuillonConvert, RecursiveDirectoryBatch)
{
    fixture::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("in/B").c_str(), 0755), 0);
    fixture::writeSofa(dir.file("in/a.sofa"), smallSet());
    fixture::writeSofa(dir.file("in/B/b.SOFA"), smallSet());

    const ToolRun flat = runTool(dir, { "--treatment", "none", dir.file("in"), dir.file("flat") });
    EXPECT_EQ(flat.status, 0);
    EXPECT_TRUE(exists(dir.file("flat/a.txt")));
    EXPECT_FALSE(exists(dir.file("flat/B")));

    const ToolRun deep = runTool(dir, { "--recursive", dir.file("in"), dir.file("deep") });
    EXPECT_EQ(deep.status, 0) << deep.out;
    EXPECT_TRUE(exists(dir.file("deep/a.txt")));
    EXPECT_TRUE(exists(dir.file("deep/B/b.txt")));
}

TEST(QuillonConvert, InterruptStopsBetweenFiles)
{
    fixture::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0755), 0);
    fixture::SofaFixture slow;
    slow.M = 30;
    slow.N = 16384;
    for (const char* name : { "1.sofa", "2.sofa", "3.sofa", "4.sofa" })
        fixture::writeSofa(dir.file(std::string("in/") + name), slow);

    const pid_t pid = start(dir, { dir.file("in"), dir.file("out") });
    // Wait until the first file is announced, then interrupt.
    for (int i = 0; i < 6000 && readFile(dir.file("stdout")).find("SOFA filename") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGINT);
    const ToolRun run = finish(dir, pid);
    EXPECT_EQ(run.status, 130) << run.out;
    const std::size_t aborted = run.out.find("Aborted by user\n");
    ASSERT_NE(aborted, std::string::npos) << run.out;
    EXPECT_EQ(aborted + 16, run.out.size()) << "the abort is the last line, printed once";
    EXPECT_LT(std::count(run.out.begin(), run.out.end(), '='), 40) << "not every file was converted";
}
