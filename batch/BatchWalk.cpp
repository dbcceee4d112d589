#include "batch/BatchWalk.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace
{
// The path with every link resolved, so that a tree reached again through a
// link, or the output directory reached by another name, compares equal.
juce::String canonicalPath(const juce::File& file)
{
    char resolved[PATH_MAX];
    if (realpath(file.getFullPathName().toRawUTF8(), resolved) == nullptr)
        return file.getFullPathName();
    return juce::String::fromUTF8(resolved);
}

// Opening a FIFO blocks, and a device or socket is no SOFA file.
bool isRegularFile(const juce::String& path)
{
    struct stat info {};
    return stat(path.toRawUTF8(), &info) == 0 && S_ISREG(info.st_mode);
}

struct Walk
{
    const ConversionSettings& settings;
    std::vector<BatchStep>& steps;
    const std::function<bool()>& stop;
    juce::String outputCanonical;
    std::vector<juce::String> visited;

    void addFile(const juce::String& path, const juce::File& outDir)
    {
        const auto kind = isRegularFile(path) ? BatchStep::Kind::convert : BatchStep::Kind::notRegular;
        steps.push_back({ kind, path, outDir });
    }

    bool directory(const juce::File& inDir, const juce::File& outDir)
    {
        if (stop && stop())
            return false;
        const juce::String canonical = canonicalPath(inDir);
        if (std::find(visited.begin(), visited.end(), canonical) != visited.end())
            return true;
        visited.push_back(canonical);

        for (const juce::File& file : inDir.findChildFiles(juce::File::findFiles, false, "*"))
            if (file.getFileName().matchesWildcard("*.sofa", true))
                addFile(file.getFullPathName(), outDir);

        if (!settings.recurse)
            return true;
        for (const juce::File& subDir : inDir.findChildFiles(juce::File::findDirectories, false, "*"))
        {
            if (canonicalPath(subDir) == outputCanonical)
                continue;
            const juce::File outSubDir = outDir.getChildFile(subDir.getFileName());
            steps.push_back({ BatchStep::Kind::makeDir, {}, outSubDir });
            if (!directory(subDir, outSubDir))
                return false;
        }
        return true;
    }
};
} // namespace

bool planBatch(const ConversionSettings& settings, std::vector<BatchStep>& steps, const std::function<bool()>& stop)
{
    steps.clear();
    const juce::File in(settings.inFile);
    const juce::File out(settings.outDir);
    Walk walk { settings, steps, stop, canonicalPath(out), {} };
    if (!in.isDirectory())
    {
        walk.addFile(settings.inFile, out);
        return true;
    }
    return walk.directory(in, out);
}

int countConversions(const std::vector<BatchStep>& steps)
{
    return static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const BatchStep& step) {
        return step.kind == BatchStep::Kind::convert;
    }));
}

juce::File outputBasePath(const juce::String& inPath, const juce::File& outDir)
{
    return outDir.getChildFile(juce::File(inPath).getFileNameWithoutExtension());
}

bool runDirectoryStep(const BatchStep& step, PrintMsgI& sink)
{
    if (step.kind == BatchStep::Kind::notRegular)
    {
        sink.printMsg("Error, '%s' is not a regular file\n", step.inPath.toRawUTF8());
        return false;
    }
    if (!step.outDir.isDirectory() && !step.outDir.createDirectory().wasOk())
    {
        sink.printMsg("Error creating output dir '%s'\n", step.outDir.getFullPathName().toRawUTF8());
        return false;
    }
    return true;
}
