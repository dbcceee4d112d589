#pragma once

// Structure-aware generator of netCDF files for fuzzing the SOFA layer and the
// converter: mostly SimpleFreeFieldHRIR sets that are valid or one or a few
// decisions away from valid, with random choices at every point the SOFA rules
// and the converter look at (attributes, dimensions, variable types and
// shapes, coordinate types and units, sampling rates, sample and position
// values, storage). Test code only.
//
// Every decision is drawn from a ChoiceSource: a seed (reproducible runs) or
// the bytes of a fuzzer input (coverage-guided runs; choice 0, which an
// exhausted input gives, is always the plain valid option).

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz
{

class ChoiceSource
{
public:
    virtual ~ChoiceSource() = default;
    // A value in [0, bound); 0 when bound is 0.
    virtual std::uint64_t below(std::uint64_t bound) = 0;

    bool percent(unsigned p) { return below(100) < p; }
};

// splitmix64 from a seed.
class SeededChoices : public ChoiceSource
{
public:
    explicit SeededChoices(std::uint64_t seed) : state(seed) {}
    std::uint64_t below(std::uint64_t bound) override;

private:
    std::uint64_t state;
};

// Takes as few bytes as each choice needs; 0 once the bytes run out.
class ByteChoices : public ChoiceSource
{
public:
    ByteChoices(const std::uint8_t* data, std::size_t size) : bytes(data), count(size) {}
    std::uint64_t below(std::uint64_t bound) override;

private:
    const std::uint8_t* bytes;
    std::size_t count;
    std::size_t used = 0;
};

struct GeneratedFile
{
    bool written = false;           // false when the library refused the file as a whole
    std::size_t M = 0, R = 0, N = 0;  // lengths of those dimensions as written (0 when absent)
    std::size_t declaredValues = 0;   // values the file declares in its variables, written or not
    std::string description;          // the structural decisions, for reports
    std::string error;                // why the library refused the file
};

// Writes the file at path (replacing any). Never throws for what the library
// refuses: a refused part is left out; a refused file, or one that runs out of
// memory (under the run's address-space limit), gives written = false.
GeneratedFile generateSofa(ChoiceSource& choices, const std::string& path);

} // namespace fuzz
