// Converts one SOFA file with the report on and prints the conversion's
// messages: the Python check of the report files runs it.
//   report_convert SOFA OUT TREATMENT   (TREATMENT: none, crop or minphase)

#include "batch/messages/MessageText.h"
#include "batch/messages/PrintMsgI.h"
#include "convert/ConvertSofaFile.h"
#include "convert/Treatment.h"

#include <cstdarg>
#include <cstdio>

namespace
{
class PrintingSink : public PrintMsgI
{
public:
    void printMsg(const char* format, ...) override
    {
        va_list args;
        va_start(args, format);
        std::fputs(formatMessageV(format, args).c_str(), stdout);
        va_end(args);
    }
};
} // namespace

int main(int argc, char** argv)
{
    Treatment treatment = kDefaultTreatment;
    if (argc != 4 || !parseTreatment(argv[3], treatment))
    {
        std::fprintf(stderr, "usage: report_convert SOFA OUT none|crop|minphase\n");
        return 2;
    }
    PrintingSink sink;
    ConversionOptions options;
    options.writeReport = true;
    bool written = false;
    const bool ok = convertSofaFile(sink, argv[1], argv[2], toProcOption(treatment), kDefaultCropThresholdDb, options,
                                    {}, &written);
    return ok && written ? 0 : 1;
}
