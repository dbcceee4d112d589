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
#include <map>
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
pid_t start(const fixture::TempDir& dir, const std::vector<std::string>& args, const std::string& extraEnv = "")
{
    std::vector<std::string> all = { QUILLON_CONVERT_EXE };
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStrings = { "HOME=" + dir.file("home"), "XDG_CONFIG_HOME=" + dir.file("home/.config"),
                                            "PATH=/usr/bin:/bin" };
    if (!extraEnv.empty())
        envStrings.push_back(extraEnv);
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

ToolRun runTool(const fixture::TempDir& dir, const std::vector<std::string>& args, const std::string& extraEnv = "")
{
    return finish(dir, start(dir, args, extraEnv));
}

int countOf(const std::string& text, const std::string& what)
{
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Every file and its contents below root, relative paths as keys.
std::map<std::string, std::string> treeOf(const std::string& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        tree[std::filesystem::relative(entry.path(), root).string()] =
            entry.is_regular_file() ? readFile(entry.path().string()) : "<dir>";
    return tree;
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
        { { "" }, 2, "" },
        { { dir.file("broken.sofa"), "" }, 2, "" },
        { { "--jobs", "0", "x" }, 2, "" },
        { { "--recursive=yes", "x" }, 2, "" },
        { { "--treatment" }, 2, "" },
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

    for (const char* option : { "--help", "-h" })
    {
        const ToolRun help = runTool(dir, { option });
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("usage: quillon-convert", 0), 0u) << help.out;
        for (const char* named : { "--treatment", "--threshold", "--recursive", "--keep-going", "--jobs", "--version" })
            EXPECT_NE(help.out.find(named), std::string::npos) << named;
    }
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
    EXPECT_EQ(run.status, 1000 + SIGINT) << "a shell loop must see death by SIGINT\n" << run.out;
    EXPECT_NE(run.err.find("interrupted, stopping after the running files"), std::string::npos) << run.err;
    const std::size_t aborted = run.out.find("Aborted by user\n");
    ASSERT_NE(aborted, std::string::npos) << run.out;
    EXPECT_EQ(aborted + 16, run.out.size()) << "the abort is the last line, printed once";
    EXPECT_LT(std::count(run.out.begin(), run.out.end(), '='), 40) << "not every file was converted";
}

// A tree with a broken file between good ones, in sub-directories so that the
// walk order (listing order inside a directory) is the same for every run.
struct MixedTree
{
    fixture::TempDir dir;
    MixedTree()
    {
        fixture::SofaFixture broken = smallSet();
        broken.R = 3;
        for (const char* sub : { "in", "in/a", "in/b", "in/c", "in/d" })
            EXPECT_EQ(mkdir(dir.file(sub).c_str(), 0755), 0);
        fixture::writeSofa(dir.file("in/a/1.sofa"), smallSet());
        fixture::writeSofa(dir.file("in/b/2.sofa"), broken);
        fixture::writeSofa(dir.file("in/c/3.sofa"), smallSet());
        fixture::writeSofa(dir.file("in/d/4.sofa"), smallSet());
    }
};

TEST(QuillonConvert, FailuresAreNamedOnStandardErrorAndKeepGoingGoesOn)
{
    MixedTree t;
    const std::string reason = "quillon-convert: " + t.dir.file("in/b/2.sofa") + ": ";
    const ToolRun stops = runTool(t.dir, { "-r", t.dir.file("in"), t.dir.file("o1") });
    EXPECT_EQ(stops.status, 1);
    EXPECT_EQ(stops.err.rfind(reason, 0), 0u) << stops.err;
    EXPECT_EQ(countOf(stops.err, "\n"), 1) << stops.err;
    EXPECT_FALSE(exists(t.dir.file("o1/c/3.txt"))) << "without -k the batch ends at the failure";

    const ToolRun goesOn = runTool(t.dir, { "-k", "--recursive", t.dir.file("in"), t.dir.file("o2") });
    EXPECT_EQ(goesOn.status, 1);
    EXPECT_EQ(goesOn.err, stops.err);
    // The reason is the failed file's last status line.
    const std::string line = goesOn.err.substr(reason.size(), goesOn.err.size() - reason.size() - 1);
    EXPECT_NE(goesOn.out.find("\n" + line + "\n"), std::string::npos) << goesOn.out;
    for (const char* set : { "o2/a/1.txt", "o2/c/3.txt", "o2/d/4.txt" })
        EXPECT_TRUE(exists(t.dir.file(set))) << set;
    EXPECT_EQ(goesOn.out.find("Aborted"), std::string::npos);
}

TEST(QuillonConvert, TwoJobsPrintAndWriteWhatOneJobDoes)
{
    MixedTree t;
    const ToolRun one = runTool(t.dir, { "-k", "-r", "--jobs", "1", t.dir.file("in"), t.dir.file("o") });
    const auto oneTree = treeOf(t.dir.file("o"));
    std::filesystem::remove_all(t.dir.file("o"));
    const ToolRun two = runTool(t.dir, { "-k", "-r", "-j2", t.dir.file("in"), t.dir.file("o") });
    EXPECT_EQ(two.status, one.status);
    EXPECT_EQ(two.out, one.out);
    EXPECT_EQ(two.err, one.err);
    EXPECT_EQ(treeOf(t.dir.file("o")), oneTree);
    EXPECT_EQ(oneTree.size(), 10u);

    // Without -k the batch ends at the broken file with either number of jobs.
    const ToolRun oneStops = runTool(t.dir, { "-r", t.dir.file("in"), t.dir.file("p") });
    const ToolRun twoStops = runTool(t.dir, { "-r", "--jobs=2", t.dir.file("in"), t.dir.file("q") });
    EXPECT_EQ(twoStops.out, oneStops.out);
    EXPECT_EQ(twoStops.err, oneStops.err);
}

TEST(QuillonConvert, ReportFilesBesideEachSetWithAnyNumberOfJobs)
{
    MixedTree t;
    const ToolRun plain = runTool(t.dir, { "-k", "-r", t.dir.file("in"), t.dir.file("plain") });
    const ToolRun one = runTool(t.dir, { "-k", "-r", "--report", t.dir.file("in"), t.dir.file("one") });
    const ToolRun two = runTool(t.dir, { "-k", "-r", "--report", "-j2", t.dir.file("in"), t.dir.file("two") });
    EXPECT_EQ(one.status, plain.status);
    const auto renamed = [&t](std::string text, const std::string& from) {
        const std::string dir = t.dir.file(from);
        for (std::size_t at; (at = text.find(dir)) != std::string::npos;)
            text.replace(at, dir.size(), t.dir.file("x"));
        return text;
    };
    EXPECT_EQ(renamed(two.out, "two"), renamed(one.out, "one"));

    // Each set written gets its two report files and one line naming the page, after its success line.
    std::size_t sets = 0;
    for (std::size_t at = 0; (at = one.out.find("sucessfully wrote TN file: ", at)) != std::string::npos; ++sets)
    {
        const std::size_t start = at + std::string("sucessfully wrote TN file: ").size();
        const std::size_t end = one.out.find('\n', start);
        const std::string set = one.out.substr(start, end - start);
        const std::string named = "wrote report: " + set + ".report.html\n";
        EXPECT_EQ(one.out.substr(end + 1, named.size()), named) << one.out;
        EXPECT_TRUE(fixture::exists(set + ".report.json")) << set;
        EXPECT_TRUE(fixture::exists(set + ".report.html")) << set;
        at = end;
    }
    EXPECT_GT(sets, 0u);
    // Without --report the same lines but those.
    std::string withoutReport;
    for (std::size_t at = 0, end; at < one.out.size(); at = end + 1)
    {
        end = one.out.find('\n', at);
        if (one.out.compare(at, 14, "wrote report: ") != 0)
            withoutReport += one.out.substr(at, end - at + 1);
    }
    EXPECT_EQ(renamed(withoutReport, "one"), renamed(plain.out, "plain"));
}

TEST(QuillonConvert, AWorkerThatCrashesEndsOnlyItsFile)
{
    MixedTree t;
    const ToolRun run = runTool(t.dir, { "-k", "-r", "-j", "2", t.dir.file("in"), t.dir.file("o") },
                                "QUILLON_TEST_WORKER_ABORT=/c/3.sofa");
    EXPECT_EQ(run.status, 1);
    const std::string crash = "quillon-convert: " + t.dir.file("in/c/3.sofa") + ": the conversion process ended by signal "
        + std::to_string(SIGABRT) + "\n";
    EXPECT_NE(run.err.find(crash), std::string::npos) << run.err;
    EXPECT_TRUE(exists(t.dir.file("o/d/4.txt")));
    EXPECT_FALSE(exists(t.dir.file("o/c/3")));
    EXPECT_TRUE(std::filesystem::is_empty(t.dir.file("o/c"))) << "no temporary file left";
}

TEST(QuillonConvert, OutputInsideTheInputTreeIsNeverWalked)
{
    fixture::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("in/sub").c_str(), 0755), 0);
    fixture::writeSofa(dir.file("in/a.sofa"), smallSet());
    fixture::writeSofa(dir.file("in/sub/b.sofa"), smallSet());
    // Directly, and through a link to it elsewhere in the tree.
    ASSERT_EQ(symlink(dir.file("in/converted").c_str(), dir.file("in/sub/link").c_str()), 0);
    for (int pass = 0; pass < 2; ++pass)
    {
        const ToolRun run = runTool(dir, { "--recursive", dir.file("in"), dir.file("in/converted") });
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(countOf(run.out, "sucessfully wrote TN file: "), 2) << run.out;
        EXPECT_TRUE(exists(dir.file("in/converted/sub/b.txt")));
        EXPECT_FALSE(exists(dir.file("in/converted/converted")));
        EXPECT_FALSE(exists(dir.file("in/converted/sub/link")));
    }
}

TEST(QuillonConvert, AFifoNamedLikeASetIsNeverOpened)
{
    fixture::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.file("in/pipe.sofa").c_str(), 0644), 0);
    fixture::writeSofa(dir.file("in/z.sofa"), smallSet());
    const ToolRun run = runTool(dir, { dir.file("in"), dir.file("o") });
    EXPECT_EQ(run.status, 1);
    const std::string line = "Error, '" + dir.file("in/pipe.sofa") + "' is not a regular file\n";
    EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "quillon-convert: " + dir.file("in/pipe.sofa") + ": " + line);
    EXPECT_TRUE(exists(dir.file("o/z.txt"))) << "the batch goes on";
}

TEST(QuillonConvert, ALinkCycleIsWalkedOnce)
{
    fixture::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("in/d").c_str(), 0755), 0);
    fixture::writeSofa(dir.file("in/d/x.sofa"), smallSet());
    ASSERT_EQ(symlink(dir.file("in").c_str(), dir.file("in/d/up").c_str()), 0);
    const ToolRun run = runTool(dir, { "-r", dir.file("in"), dir.file("o") });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(countOf(run.out, "SOFA filename: "), 1);
}

TEST(QuillonConvert, ArgumentForms)
{
    fixture::TempDir dir;
    fixture::writeSofa(dir.file("-dash.sofa"), smallSet());
    ASSERT_EQ(mkdir(dir.file("empty").c_str(), 0755), 0);

    const ToolRun equals = runTool(dir, { "--treatment=crop", "--threshold=25", "--", dir.file("-dash.sofa"), dir.file("o") });
    EXPECT_EQ(equals.status, 0) << equals.err;
    EXPECT_NE(readFile(dir.file("o/-dash.txt")).find("% flags: ITD_extracted\r\n"), std::string::npos);

    const ToolRun nothing = runTool(dir, { dir.file("empty"), dir.file("o") });
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(nothing.err, "quillon-convert: no SOFA file to convert in '" + dir.file("empty") + "'\n");
}

TEST(QuillonConvert, AFailedWriteToStandardOutputExitsOne)
{
    fixture::TempDir dir;
    fixture::writeSofa(dir.file("in.sofa"), smallSet());
    const std::string command = std::string("'") + QUILLON_CONVERT_EXE + "' '" + dir.file("in.sofa") + "' '"
        + dir.file("o") + "' >/dev/full 2>'" + dir.file("err") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readFile(dir.file("err")).find("quillon-convert: error writing standard output: "), std::string::npos);
}
