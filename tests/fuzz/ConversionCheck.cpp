#include "ConversionCheck.h"

#include "batch/messages/MessageText.h"
#include "batch/messages/PrintMsgI.h"
#include "convert/ConvertSofaFile.h"
#include "convert/Treatment.h"
#include "fixtures/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fuzz
{

namespace
{

namespace fs = std::filesystem;

// Keeps every printMsg call as one message, formatted as every sink does.
class RecordingSink : public PrintMsgI
{
public:
    void printMsg(const char* format, ...) override
    {
        va_list args;
        va_start(args, format);
        messages.push_back(formatMessageV(format, args));
        va_end(args);
    }

    std::vector<std::string> messages;
};

// Sends the standard output to a file while alive (the position reader writes there).
class StdoutCapture
{
public:
    explicit StdoutCapture(const std::string& path) : capturePath(path)
    {
        std::fflush(stdout);
        saved = ::dup(STDOUT_FILENO);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (saved >= 0 && fd >= 0)
            active = ::dup2(fd, STDOUT_FILENO) >= 0;
        if (fd >= 0)
            ::close(fd);
    }

    ~StdoutCapture() { restore(); }

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Restores the standard output and returns what was written meanwhile.
    std::string take()
    {
        restore();
        std::ifstream in(capturePath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    void restore()
    {
        std::fflush(stdout);
        if (active)
            ::dup2(saved, STDOUT_FILENO);
        active = false;
        if (saved >= 0)
            ::close(saved);
        saved = -1;
    }

    std::string capturePath;
    int saved = -1;
    bool active = false;
};

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Messages a conversion sends on its way, before any verdict.
bool isProgressMessage(const std::string& m)
{
    static const char* const prefixes[] = {
        "sampling rate: ", "number of measurements: ", "number of receivers: ",
        "number of samples per measurement: ", "average angular spacing: ", "choosing target spacing: ",
        "largest error ", "TN (el ", "average error ", "Data.Delay applied: ",
    };
    for (const char* prefix : prefixes)
        if (startsWith(m, prefix))
            return true;
    // "%d target elevs: %g to %g\n"
    std::size_t i = m[0] == '-' ? 1 : 0;
    const std::size_t digits = i;
    while (i < m.size() && std::isdigit(static_cast<unsigned char>(m[i])))
        ++i;
    return i > digits && m.compare(i, 15, " target elevs: ") == 0;
}

// A quality check's finding: "warning: CODE: TEXT\n", one line; only a
// converted set is checked.
bool isWarningMessage(const std::string& m)
{
    if (!startsWith(m, "warning: ") || m.back() != '\n' || m.find('\n') + 1 != m.size())
        return false;
    std::size_t i = 9;
    while (i < m.size() && (std::islower(static_cast<unsigned char>(m[i])) || m[i] == '-'))
        ++i;
    return i > 9 && m.compare(i, 2, ": ") == 0;
}

// Messages that end a file's conversion with result false.
bool isFailureMessage(const std::string& m)
{
    static const char* const exact[] = {
        "not a valid SOFA file\n", "not a valid SimpleFreeFieldHRIR\n", "missing sampling rate\n",
        "expected two receivers\n", "error reading SOFA data\n", "Unknown exception occurred!\n",
        "expected one source position per measurement\n", "invalid values in SourcePosition\n",
        "invalid values in Data.IR\n",
    };
    for (const char* text : exact)
        if (m == text)
            return true;
    static const char* const prefixes[] = {
        "invalid sampling rate: ", "SOFA data too large: ", "HRTF set too large: ",
        "invalid values after processing measurement ", "invalid values in SourcePosition: elevation ",
        "invalid values in Data.Delay: ",
    };
    for (const char* prefix : prefixes)
        if (startsWith(m, prefix))
            return true;
    // The exception's text must say something.
    static const char exception[] = "Exception occurred: ";
    return startsWith(m, exception) && m.size() > sizeof exception && m[sizeof exception - 1] != '\n';
}

// What the open file descriptors of this process refer to: a conversion must
// close what it opened.
std::vector<std::string> openDescriptors()
{
    std::vector<std::string> targets;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
    {
        std::error_code ignored;
        targets.push_back(fs::read_symlink(it->path(), ignored).string());
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

// Descriptors open after the conversion that were not before it.
std::vector<std::string> leftOpen(const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    std::vector<std::string> extra;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(extra));
    return extra;
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

std::string shown(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7f)
        {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string joined(const std::vector<std::string>& messages)
{
    std::string all;
    for (const std::string& m : messages)
        all += "  " + shown(m) + "\n";
    return all;
}

// Whole-string integer parse; false for anything else.
bool parseInt(const std::string& text, long long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

bool parseInts(const std::string& line, std::vector<long long>& values)
{
    values.clear();
    std::size_t start = 0;
    while (start <= line.size())
    {
        std::size_t space = line.find(' ', start);
        if (space == std::string::npos)
            space = line.size();
        long long v = 0;
        if (!parseInt(line.substr(start, space - start), v))
            return false;
        values.push_back(v);
        start = space + 1;
    }
    return true;
}

// The fact the intake reported with this prefix, as a number.
bool intakeFact(const std::vector<std::string>& messages, const char* prefix, long long& value)
{
    for (const std::string& m : messages)
        if (startsWith(m, prefix) && m.back() == '\n')
            return parseInt(m.substr(std::strlen(prefix), m.size() - std::strlen(prefix) - 1), value);
    return false;
}

long long nextPowerOfTwoOf(long long n)
{
    long long p = 1;
    for (int i = 0; i < 30 && p < n; ++i)
        p *= 2;
    return p;
}

// How much the treatment without ITDs lengthened the responses to carry the
// delays, as its Data.Delay line says; 0 without such a line.
long long delayLengthening(const std::vector<std::string>& messages)
{
    static const char marker[] = "responses shifted by up to ";
    for (const std::string& m : messages)
    {
        const std::size_t at = m.find(marker);
        if (startsWith(m, "Data.Delay applied: ") && at != std::string::npos)
            return std::strtoll(m.c_str() + at + sizeof marker - 1, nullptr, 10);
    }
    return 0;
}

// Checks the written set against the intake's facts; returns the fault or "".
std::string checkWrittenSet(const std::string& outPath, std::int32_t procOption,
                            const std::vector<std::string>& messages)
{
    const std::string header = fixture::readFile(outPath + ".txt");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(header.substr(start, end - start));
    if (start != header.size())
        return "header does not end each line with CR LF";
    if (lines.size() < 7)
        return "header has " + std::to_string(lines.size()) + " lines";
    if (lines[0] != "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff")
        return "header line 1 is " + shown(lines[0]);

    const bool withItds = procOption == toProcOption(Treatment::crop) || procOption == toProcOption(Treatment::minimumPhase);
    const std::string flagsLine = withItds ? "% flags: ITD_extracted" : "% flags:";
    if (lines[1] != flagsLine)
        return "header flags line is " + shown(lines[1]);

    std::vector<long long> facts;
    if (!parseInts(lines[2], facts) || facts.size() != 6)
        return "header facts line is " + shown(lines[2]);
    const long long fs = facts[0], numElev = facts[1], numHrtf = facts[2], flags = facts[3],
                    numB = facts[4], numA = facts[5];

    long long N = 0;
    if (!intakeFact(messages, "number of samples per measurement: ", N))
        return "accepted without a samples-per-measurement line";
    const long long expectedB = procOption == toProcOption(Treatment::minimumPhase) ? nextPowerOfTwoOf(N)
                                : withItds ? N : N + delayLengthening(messages);
    if (fs < 1 || numElev < 1 || numHrtf < 1 || flags != (withItds ? 2 : 0) || numB != expectedB || numA != 0)
        return "header facts " + shown(lines[2]) + " disagree with N = " + std::to_string(N);

    long long reportedElevs = -1;
    for (const std::string& m : messages)
        if (m.find(" target elevs: ") != std::string::npos)
            parseInt(m.substr(0, m.find(' ')), reportedElevs);
    if (reportedElevs != numElev)
        return "header has " + std::to_string(numElev) + " rings, the grid message "
               + std::to_string(reportedElevs);

    std::vector<long long> elevs, numAz;
    if (lines[3] != "% elevs(1,:)" || !parseInts(lines[4], elevs) || lines[5] != "% elevs(2,:)"
        || !parseInts(lines[6], numAz))
        return "header grid lines malformed";
    if (static_cast<long long>(elevs.size()) != numElev || static_cast<long long>(numAz.size()) != numElev)
        return "header grid rows do not hold n_elevs entries";
    long long total = 0;
    for (std::size_t i = 0; i < elevs.size(); ++i)
    {
        if (i > 0 && elevs[i] <= elevs[i - 1])
            return "header elevations not ascending";
        if (numAz[i] < 1)
            return "header ring without azimuths";
        total += numAz[i];
    }
    if (total != numHrtf)
        return "header azimuth counts sum to " + std::to_string(total) + ", n_hrtfs is " + std::to_string(numHrtf);

    const std::size_t itdLines = withItds ? static_cast<std::size_t>(numHrtf) + 1 : 0;
    if (lines.size() != 7 + itdLines)
        return "header has " + std::to_string(lines.size()) + " lines for " + std::to_string(numHrtf) + " HRTFs";
    if (withItds)
    {
        if (lines[7] != "%  ITDs(1...n_hrtf)")
            return "header ITD title is " + shown(lines[7]);
        for (std::size_t i = 8; i < lines.size(); ++i)
        {
            const std::string& itd = lines[i];
            char* end = nullptr;
            const double value = std::strtod(itd.c_str(), &end);
            const std::size_t point = itd.find('.');
            if (itd.empty() || end != itd.c_str() + itd.size() || !std::isfinite(value)
                || point == std::string::npos || itd.size() - point - 1 != 6)
                return "header ITD line " + shown(itd);
        }
    }

    const std::string data = fixture::readFile(outPath);
    const auto expectedBytes = static_cast<unsigned long long>(numHrtf) * 2ull * static_cast<unsigned long long>(numB) * 4ull;
    if (data.size() != expectedBytes)
        return "data file has " + std::to_string(data.size()) + " bytes, the header says "
               + std::to_string(expectedBytes);
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4)
    {
        std::uint32_t word = 0;
        for (std::size_t b = 0; b < 4; ++b)
            word = (word << 8) | static_cast<unsigned char>(data[i + b]);
        float value;
        std::memcpy(&value, &word, sizeof value);
        if (!std::isfinite(value))
            return "data word " + std::to_string(i / 4) + " is not finite";
    }
    return {};
}

// Runs one treatment and returns the fault or "".
std::string checkTreatment(const std::string& sofaPath, const std::string& workDir, std::int32_t procOption,
                           TreatmentResult& result)
{
    result.procOption = procOption;
    const std::string outDir = workDir + "/p" + std::to_string(procOption);
    std::error_code error;
    fs::remove_all(outDir, error);
    if (!fs::create_directory(outDir, error))
        return "cannot make " + outDir;
    const std::string outPath = outDir + "/set";

    RecordingSink sink;
    bool written = true;
    bool converted = false;
    std::string printed;
    const std::vector<std::string> descriptorsBefore = openDescriptors();
    {
        StdoutCapture capture(workDir + "/stdout.txt");
        converted = convertSofaFile(sink, sofaPath, outPath, procOption, kDefaultCropThresholdDb, {}, &written);
        printed = capture.take();
    }
    const std::vector<std::string> stillOpen = leftOpen(descriptorsBefore, openDescriptors());
    const std::vector<std::string>& messages = sink.messages;
    const std::vector<std::string> files = filesIn(outDir);
    const std::string context = "\nmessages:\n" + joined(messages) + "standard output: " + shown(printed) + "\n";

    if (messages.empty() || messages.front() != "==========\nSOFA filename: " + sofaPath + "\n")
        return "the first message does not announce the file" + context;
    if (!stillOpen.empty())
    {
        // libnetcdf keeps the input open when HDF5 fails inside nc_open on some
        // corrupt files (tests/fuzz/library-faults): no object of ours exists then.
        const bool failedOpen = !converted && messages.size() == 2
                                && startsWith(messages.back(), "Exception occurred: NetCDF: ");
        const std::string input = fs::weakly_canonical(sofaPath).string();
        if (!failedOpen || stillOpen.size() != 1 || stillOpen.front() != input)
            return "the conversion left " + shown(stillOpen.front()) + " open" + context;
        result.libraryLeftInputOpen = true;
    }

    if (converted)
    {
        result.outcome = Outcome::Accepted;
        const std::string success = "sucessfully wrote TN file: " + outPath + "\n";
        if (!written || messages.back() != success)
            return "accepted, but the set was not reported written" + context;
        for (std::size_t i = 1; i + 1 < messages.size(); ++i)
            if (!isProgressMessage(messages[i]) && !isWarningMessage(messages[i]))
                return "accepted with an unexpected message " + shown(messages[i]) + context;
        if (files.size() != 2 || !fs::is_regular_file(outPath) || !fs::is_regular_file(outPath + ".txt"))
            return "accepted, but the output directory holds " + std::to_string(files.size()) + " files" + context;
        const std::string fault = checkWrittenSet(outPath, procOption, messages);
        if (!fault.empty())
            return fault + context;
        fs::remove_all(outDir, error);
        return {};
    }

    if (written)
        return "rejected, but the set is reported written" + context;
    if (!files.empty())
        return "rejected, but the output directory holds " + files.front() + context;

    std::size_t failures = 0;
    for (std::size_t i = 1; i < messages.size(); ++i)
    {
        if (isFailureMessage(messages[i]))
            ++failures;
        else if (!isProgressMessage(messages[i]))
            return "rejected with an unexpected message " + shown(messages[i]) + context;
    }

    if (failures == 0)
    {
        // Only the position reader may fail without a message to the sink:
        // right after the intake's last fact, with its text on the standard output.
        const bool readerText = printed == "can't get source position\n"
                                || printed == "expected Mx3 dimensions for SourcePosition\n";
        if (!readerText || !startsWith(messages.back(), "number of samples per measurement: "))
            return "rejected without a reason" + context;
        result.outcome = Outcome::RejectedSilently;
        result.reason = printed;
    }
    else
    {
        if (failures != 1)
            return "rejected with " + std::to_string(failures) + " failure messages" + context;
        if (!isFailureMessage(messages.back()))
            return "rejected, but the failure message is not the last" + context;
        if (!printed.empty())
            return "rejected with text on the standard output" + context;
        result.outcome = Outcome::Rejected;
        result.reason = messages.back();
    }
    fs::remove_all(outDir, error);
    return {};
}

} // namespace

CheckResult checkConversion(const std::string& sofaPath, const std::string& workDir)
{
    CheckResult result;
    for (std::size_t i = 0; i < result.treatments.size() && result.violation.empty(); ++i)
    {
        const std::int32_t option = toProcOption(kAllTreatments[i]);
        const std::string fault = checkTreatment(sofaPath, workDir, option, result.treatments[i]);
        if (!fault.empty())
            result.violation = "treatment " + std::to_string(option) + ": " + fault;
    }
    return result;
}

std::string reasonClass(const std::string& reason)
{
    std::string masked;
    bool inNumber = false;
    for (char c : reason)
    {
        const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (digit && !inNumber)
            masked += '#';
        inNumber = digit || (inNumber && (c == '.' || c == 'e' || c == '+' || c == '-'));
        if (!inNumber)
            masked += c;
    }
    return masked;
}

} // namespace fuzz
