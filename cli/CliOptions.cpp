#include "cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace
{
// Whole decimal integer with optional sign, as a 32-bit int.
bool parseInt(const std::string& text, std::int32_t& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || parsed < -2147483647L || parsed > 2147483647L)
        return false;
    value = static_cast<std::int32_t>(parsed);
    return true;
}

// Sets an option from its value (empty for a flag); returns a problem or "".
using Apply = std::string (*)(CliOptions&, const std::string&);

struct Option
{
    const char* name;    // long name without "--"
    char letter;         // short name, or 0
    const char* value;   // the value's name in the help, or nullptr for a flag
    const char* help;    // one line; %T default treatment, %D default threshold
    Apply apply;
};

const Option options[] = {
    { "treatment", 0, "none|crop|minphase", "treatment of the responses (default %T)",
      [](CliOptions& o, const std::string& v) -> std::string {
          return parseTreatment(v, o.treatment) ? "" : "unknown treatment '" + v + "'";
      } },
    { "threshold", 0, "DB", "crop threshold in dB below the peak (default %D)",
      [](CliOptions& o, const std::string& v) -> std::string {
          std::int32_t threshold = 0;
          if (!parseInt(v, threshold))
              return "threshold '" + v + "' is not a whole number of dB";
          o.cropThresh = threshold < 0 ? -threshold : threshold;
          return "";
      } },
    { "recursive", 'r', nullptr, "also convert sub-directories into a mirrored tree",
      [](CliOptions& o, const std::string&) -> std::string {
          o.recurse = true;
          return "";
      } },
    { "keep-going", 'k', nullptr, "go on after a file that fails; exit status 1 at the end",
      [](CliOptions& o, const std::string&) -> std::string {
          o.keepGoing = true;
          return "";
      } },
    { "report", 0, nullptr, "also write NAME.report.json and NAME.report.html beside each set NAME",
      [](CliOptions& o, const std::string&) -> std::string {
          o.report = true;
          return "";
      } },
    { "jobs", 'j', "N", "convert up to N files at once, each in a process of its own (default 1)",
      [](CliOptions& o, const std::string& v) -> std::string {
          std::int32_t jobs = 0;
          if (!parseInt(v, jobs) || jobs < 1 || jobs > kMaxJobs)
              return "jobs '" + v + "' is not a number from 1 to " + std::to_string(kMaxJobs);
          o.jobs = jobs;
          return "";
      } },
    { "help", 'h', nullptr, "show this help",
      [](CliOptions& o, const std::string&) -> std::string {
          o.showHelp = true;
          return "";
      } },
    { "version", 0, nullptr, "show the version",
      [](CliOptions& o, const std::string&) -> std::string {
          o.showVersion = true;
          return "";
      } },
};

const Option* findLong(const std::string& name)
{
    for (const Option& option : options)
        if (name == option.name)
            return &option;
    return nullptr;
}

const Option* findShort(char letter)
{
    for (const Option& option : options)
        if (option.letter != 0 && option.letter == letter)
            return &option;
    return nullptr;
}

std::string replaced(std::string text, const std::string& what, const std::string& with)
{
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}
} // namespace

bool parseArguments(int argc, char* const argv[], CliOptions& result, std::string& error)
{
    int positional = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const Option* option = nullptr;
        std::string value;
        bool hasValue = false;
        if (!optionsEnded && arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0)
        {
            const std::size_t equals = arg.find('=');
            option = findLong(arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2));
            if (option == nullptr)
            {
                error = "unknown option '" + arg + "'";
                return false;
            }
            if (equals != std::string::npos)
            {
                if (option->value == nullptr)
                {
                    error = "option '--" + std::string(option->name) + "' takes no value";
                    return false;
                }
                value = arg.substr(equals + 1);
                hasValue = true;
            }
        }
        else if (!optionsEnded && arg.size() > 1 && arg[0] == '-')
        {
            option = findShort(arg[1]);
            if (option == nullptr || (option->value == nullptr && arg.size() > 2))
            {
                error = "unknown option '" + arg + "'";
                return false;
            }
            if (arg.size() > 2)
            {
                value = arg.substr(2);
                hasValue = true;
            }
        }
        else
        {
            if (arg.empty())
            {
                error = positional == 0 ? "INPUT is empty" : "OUTPUT_DIR is empty";
                return false;
            }
            if (positional == 0)
                result.input = arg;
            else if (positional == 1)
                result.outputDir = arg;
            else
            {
                error = "too many arguments";
                return false;
            }
            ++positional;
            continue;
        }

        if (option->value != nullptr && !hasValue)
        {
            if (i + 1 >= argc)
            {
                error = "--" + std::string(option->name) + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        error = option->apply(result, value);
        if (!error.empty())
            return false;
    }
    if (positional == 0 && !result.showHelp && !result.showVersion)
    {
        error = "missing INPUT";
        return false;
    }
    return true;
}

const char* usageText()
{
    return "usage: quillon-convert [--treatment none|crop|minphase] [--threshold DB] [--recursive]\n"
           "                       [--keep-going] [--report] [--jobs N] [--] INPUT [OUTPUT_DIR]\n";
}

std::string helpText()
{
    std::string text = usageText();
    text += "Converts SOFA HRIR files (SimpleFreeFieldHRIR) into Tarnfield HRTF sets.\n"
            "\n"
            "INPUT is one SOFA file, or a directory whose *.sofa files are converted.\n"
            "OUTPUT_DIR defaults to the folder the Tarnfield spatialiser scans for user\n"
            "HRTFs (Kelvane/TarnfieldHRTFs in the user's application-data directory);\n"
            "it is created when missing. Inside the input tree it is never converted.\n"
            "Standard output carries the status text; each failed file is also named on\n"
            "standard error as 'quillon-convert: PATH: REASON'.\n"
            "\n"
            "options:\n";
    for (const Option& option : options)
    {
        std::string names = option.letter != 0 ? std::string("-") + option.letter + ", " : std::string("    ");
        names += "--" + std::string(option.name);
        if (option.value != nullptr)
            names += " " + std::string(option.value);
        if (names.size() < 34)
            names.resize(34, ' ');
        else
            names += "\n" + std::string(34, ' ');
        std::string line = replaced(option.help, "%T", treatmentName(kDefaultTreatment));
        line = replaced(line, "%D", std::to_string(kDefaultCropThresholdDb));
        text += "  " + names + line + "\n";
    }
    text += "\n"
            "exit status: 0 all files converted, 1 a check or a file failed (or standard\n"
            "output could not be written), 2 usage error.\n"
            "Ctrl-C stops between files; a second Ctrl-C abandons the running files without\n"
            "writing them; the tool then ends by SIGINT. A third Ctrl-C ends it at once.\n";
    return text;
}
