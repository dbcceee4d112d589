#include "convert/SofaInput.h"

bool openSofaInput(PrintMsgI& sink, const std::string& sofaPath, SofaInput& input)
{
    input = SofaInput();
    sink.printMsg("==========\nSOFA filename: %s\n", sofaPath.c_str());

    // The general check, then the convention's: the convention view shares the
    // one open file and the general check that it has passed (a second open
    // and check of the same file could only pass the same way).
    auto hrir = std::make_unique<sofa::SimpleFreeFieldHRIR>(sofaPath);
    if (!hrir->File::IsValid())
    {
        sink.printMsg("not a valid SOFA file\n");
        return false;
    }
    if (!hrir->IsValidConvention())
    {
        sink.printMsg("not a valid SimpleFreeFieldHRIR\n");
        return false;
    }

    double samplingRate = 0.0;
    if (!hrir->GetSamplingRate(samplingRate))
    {
        sink.printMsg("missing sampling rate\n");
        return false;
    }
    sink.printMsg("sampling rate: %g\n", samplingRate);

    // The validity checks have rejected lengths that do not fit an int32.
    const auto M = static_cast<std::int32_t>(hrir->GetNumMeasurements());
    const auto R = static_cast<std::int32_t>(hrir->GetNumReceivers());
    const auto N = static_cast<std::int32_t>(hrir->GetNumDataSamples());
    sink.printMsg("number of measurements: %d\n", M);
    sink.printMsg("number of receivers: %d\n", R);
    sink.printMsg("number of samples per measurement: %d\n", N);
    if (R != 2)
    {
        sink.printMsg("expected two receivers\n");
        return false;
    }

    input.file = hrir.get();
    input.hrir = std::move(hrir);
    input.samplingRate = samplingRate;
    input.M = M;
    input.R = R;
    input.N = N;
    return true;
}
