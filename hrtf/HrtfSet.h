#pragma once

// One head's HRTF set in the spatialiser's layout: elevation rings of equally
// spaced azimuths, a left/right coefficient pair per stored position and an
// optional ITD per stored position; the cursor that selects a position; and
// the writers of the set's data file (big-endian floats) and header file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Bits of HrtfSetInfo::flags / HrtfSet::flags.
enum HrtfSetFlags : std::int32_t
{
    symmetric = 1,      // only azimuth indices 0 .. numAz/2 are stored; the rest are mirrored
    ITD_extracted = 2,  // one ITD per stored HRTF
    freq_domain = 4,    // recorded in the header only
    encrypted = 8       // data file words are scrambled with the key stream
};

// Description from which a set is built.
struct HrtfSetInfo
{
    // numElev rings, every other field 0. A negative count throws std::length_error.
    explicit HrtfSetInfo(std::int32_t numElev = 0);
    // Resizes elevs and numAz to n entries.
    void setNumElev(std::int32_t n);

    std::int32_t flags = 0;
    std::int32_t sampRate = 0;
    std::int32_t numElev = 0;
    std::int32_t numACoeff = 0;
    std::int32_t numBCoeff = 0;
    std::vector<std::int32_t> elevs;  // ring elevations in whole degrees, ascending
    std::vector<std::int32_t> numAz;  // azimuths around the full circle per ring
};

// Removes what an interrupted write of the set at dataPath left: the
// temporary files of its data and header files. For a process that must end
// while a write may be under way.
void removeTemporaryFiles(const std::string& dataPath);

class HrtfSet
{
public:
    // Sizes every vector and zero-fills it. Throws std::invalid_argument for a
    // description that contradicts itself (negative counts, ring lists of the
    // wrong length) and std::length_error when the set cannot be addressed.
    explicit HrtfSet(const HrtfSetInfo& info);

    // Writes the data file at dataPath and the header at dataPath + ".txt".
    // Both are completed under temporary names before either replaces a file,
    // so a failure leaves any earlier pair as it was. On failure: false, errorMsg set.
    bool write(const std::string& dataPath);
    // Each writes one file of the pair at path, replacing it only when complete.
    bool writeData();
    bool writeHeader();

    // The file contents written to an open stream, which is flushed but not
    // closed. On failure: false, errorMsg names shownPath. data is unchanged
    // afterwards either way.
    bool writeDataStream(std::FILE* file, const std::string& shownPath);
    bool writeHeaderStream(std::FILE* file, const std::string& shownPath);

    std::string path;
    std::int32_t flags = 0;
    std::int32_t sampRate = 0;
    std::int32_t numElev = 0;
    std::int32_t numACoeff = 0;
    std::int32_t numBCoeff = 0;
    std::vector<std::int32_t> elevs;
    std::vector<std::int32_t> numAz;
    std::int32_t numHrtf = 0;
    std::int32_t hrtfSize = 0;             // floats per HRTF, both ears
    std::vector<std::int32_t> numStored;   // HRTFs stored per ring
    std::vector<float> itds;               // per HRTF; empty without ITD_extracted
    std::vector<float> data;               // numHrtf * hrtfSize coefficients
    std::string errorMsg;
    std::string displayName;
};

// Selects the stored HRTF for a direction and stores into it.
class HrtfCursor
{
public:
    explicit HrtfCursor(HrtfSet& set);

    // Selects the ring nearest to elev (ties go to the higher ring) and the
    // nearest azimuth index on it, mirrored for symmetric sets. Returns whether
    // the selected HRTF or its mirroring changed. A set without rings keeps
    // the selection and returns false; a ring that stores no HRTF selects
    // hrtfIndex -1, for which the stores below do nothing.
    bool setPosition(float elev, float az);
    // Copies up to numBCoeff samples of each ear into the selected HRTF
    // (ears exchanged when mirrored) and zero-fills the rest of the b slots.
    void setHrirs(const float* left, const float* right, std::int32_t length);
    // Stores the ITD (negated when mirrored) if the set carries ITDs.
    void setItd(float itd);

    std::int32_t elevIndex() const { return selectedRing; }
    std::int32_t azIndex() const { return selectedAzimuth; }
    std::int32_t hrtfIndex() const { return selectedHrtf; }
    bool mirrored() const { return isMirrored; }

private:
    HrtfSet* set;
    std::int32_t selectedRing = 0;
    std::int32_t selectedAzimuth = 0;
    std::int32_t selectedHrtf = 0;
    bool isMirrored = false;
};

// XORs word i with the key stream k(i) (k(0) = 0x4B; k doubles, XORed with
// 0x4B after a step from a value with bit 13 set). Applying it twice restores.
void scrambleWords(std::uint32_t* words, std::size_t count);
