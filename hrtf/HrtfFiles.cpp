// The set's two files: the data file of big-endian 32-bit floats (optionally
// scrambled) and the text header with CR LF line ends.
// Each file is completed under a temporary name in its own directory and then
// renamed into place, so a failed write never replaces a good file.

#include "hrtf/HrtfSet.h"

#include "batch/messages/FormatString.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr std::uint32_t kKeySeed = 0x4B;

std::uint32_t nextKey(std::uint32_t key)
{
    const bool carry = (key & (1u << 13)) != 0;
    key = static_cast<std::uint32_t>(key << 1);
    return carry ? key ^ kKeySeed : key;
}

// Byte-order conversion between the in-memory floats and the file's
// big-endian words; applying it twice restores the floats.
class ByteOrderOps
{
public:
    void toBigEndianInPlace(float* words, std::size_t count) const
    {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        (void)words;
        (void)count;
#else
        for (std::size_t i = 0; i < count; ++i)
        {
            std::uint32_t word;
            std::memcpy(&word, words + i, sizeof word);
            word = __builtin_bswap32(word);
            std::memcpy(words + i, &word, sizeof word);
        }
#endif
    }
};

// XORs the stored bytes of word i with k(i), least significant key byte
// against the first stored byte. Self-inverse. key is k of the first word
// given; the key of the word after the last is returned, so that a file can be
// scrambled piece by piece.
std::uint32_t scrambleStoredWords(float* words, std::size_t count, std::uint32_t key)
{
    auto* bytes = reinterpret_cast<unsigned char*>(words);
    for (std::size_t i = 0; i < count; ++i)
    {
        for (std::size_t b = 0; b < 4; ++b)
            bytes[4 * i + b] ^= static_cast<unsigned char>(key >> (8 * b));
        key = nextKey(key);
    }
    return key;
}

// Words converted per fwrite call: the set's own floats are never touched.
constexpr std::size_t kWordsPerWrite = 16384;

// The fields that the writers index must agree with their vectors (they are
// public, so an owner could have changed them after construction).
std::string shapeError(const HrtfSet& set)
{
    const bool countsValid = set.numElev >= 0 && set.numHrtf >= 0 && set.hrtfSize >= 0;
    const bool shapeValid =
        countsValid && set.elevs.size() >= static_cast<std::size_t>(set.numElev)
        && set.numAz.size() >= static_cast<std::size_t>(set.numElev)
        && set.data.size() == static_cast<std::size_t>(set.numHrtf) * static_cast<std::size_t>(set.hrtfSize)
        && (!(set.flags & ITD_extracted) || set.itds.size() >= static_cast<std::size_t>(set.numHrtf));
    if (shapeValid)
        return {};
    return formatString("HRTF set for '%s' does not match its sizes (%d rings, %d HRTFs of %d floats, %zu stored)\n",
                        set.path.c_str(), set.numElev, set.numHrtf, set.hrtfSize, set.data.size());
}

mode_t currentUmask()
{
    // Read without changing it (umask() would race with other threads' files).
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.compare(0, 6, "Umask:") == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

// The permissions a plain fopen would have given: those of the file being
// replaced, or the default for a new file.
mode_t modeForReplacing(const std::string& finalPath)
{
    struct stat existing;
    if (::stat(finalPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 07777;
    return 0666 & ~currentUmask();
}

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkstemp's pattern, appended to the final path.
constexpr char tempSuffix[] = ".tmpXXXXXX";

// A file being written under a temporary name beside its final path. Removed
// again unless it was moved into place.
class TempFile
{
public:
    explicit TempFile(const std::string& finalPath)
    {
        // Replacing by rename would get past a file that may not be written to.
        if (::access(finalPath.c_str(), F_OK) == 0 && ::access(finalPath.c_str(), W_OK) != 0)
            return;
        if (!open(finalPath + tempSuffix) && errno == ENAMETOOLONG)
            open(directoryOf(finalPath) + "/" + tempSuffix);
        if (stream != nullptr)
            ::fchmod(::fileno(stream), modeForReplacing(finalPath));
    }

    ~TempFile()
    {
        if (stream != nullptr)
            std::fclose(stream);
        if (!tempPath.empty())
            ::unlink(tempPath.c_str());
    }

    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::FILE* file() const { return stream; }

    // Closes the stream; false (errno set) when buffered data could not be written.
    bool close()
    {
        std::FILE* closing = stream;
        stream = nullptr;
        return std::fclose(closing) == 0;
    }

    bool moveTo(const std::string& finalPath)
    {
        if (::rename(tempPath.c_str(), finalPath.c_str()) != 0)
            return false;
        tempPath.clear();
        return true;
    }

private:
    bool open(std::string pattern)
    {
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            return false;
        stream = ::fdopen(fd, "wb");
        if (stream == nullptr)
        {
            const int error = errno;
            ::close(fd);
            ::unlink(pattern.c_str());
            errno = error;
            return false;
        }
        tempPath = pattern;
        return true;
    }

    std::FILE* stream = nullptr;
    std::string tempPath;
};

// The two files of a set, for the messages about them.
enum class SetFile
{
    data,
    header
};

std::string cantCreate(SetFile which, const std::string& path)
{
    return which == SetFile::data ? formatString("Can't create HRTF data file %s\n", path.c_str())
                                  : formatString("Can't create header file %s\n", path.c_str());
}

// The failed write's message, naming errno's reason.
std::string writeFailure(SetFile which, const std::string& path)
{
    return which == SetFile::data ? formatString("Error writing '%s' (%s)\n", path.c_str(), std::strerror(errno))
                                  : formatString("Error writing header file %s (%s)\n", path.c_str(), std::strerror(errno));
}

// The file's contents, complete in its temporary file (not yet in place).
bool writeToTemp(HrtfSet& set, TempFile& temp, SetFile which, const std::string& path)
{
    if (temp.file() == nullptr)
    {
        set.errorMsg = cantCreate(which, path);
        return false;
    }
    const bool streamed = which == SetFile::data ? set.writeDataStream(temp.file(), path)
                                                 : set.writeHeaderStream(temp.file(), path);
    if (!streamed)
        return false;
    if (!temp.close())
    {
        set.errorMsg = writeFailure(which, path);
        return false;
    }
    return true;
}

// Renames the completed temporary file over path, or reports that it could not.
bool moveIntoPlace(HrtfSet& set, TempFile& temp, SetFile which, const std::string& path)
{
    if (temp.moveTo(path))
        return true;
    set.errorMsg = cantCreate(which, path);
    return false;
}

// "%f" as the C locale prints it, whatever the process locale is.
std::string fixedSixDecimals(float value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                      std::chars_format::fixed, 6);
    return std::string(text, result.ptr);
}

}  // namespace

void scrambleWords(std::uint32_t* words, std::size_t count)
{
    std::uint32_t key = kKeySeed;
    for (std::size_t i = 0; i < count; ++i)
    {
        words[i] ^= key;
        key = nextKey(key);
    }
}

bool HrtfSet::writeDataStream(std::FILE* file, const std::string& shownPath)
{
    const std::string mismatch = shapeError(*this);
    if (!mismatch.empty())
    {
        errorMsg = mismatch;
        return false;
    }
    const std::size_t count = data.size();
    const bool scrambled = (flags & encrypted) != 0;

    // Converted into a buffer piece by piece and written from there.
    const ByteOrderOps byteOrder;
    std::vector<float> words(std::min(count, kWordsPerWrite));
    std::uint32_t key = kKeySeed;
    std::size_t written = 0;
    int writeError = errno;
    for (std::size_t start = 0; start < count; start += words.size())
    {
        const std::size_t length = std::min(words.size(), count - start);
        std::copy_n(data.data() + start, length, words.data());
        byteOrder.toBigEndianInPlace(words.data(), length);
        if (scrambled)
            key = scrambleStoredWords(words.data(), length, key);
        const std::size_t done = std::fwrite(words.data(), sizeof(float), length, file);
        writeError = errno;
        written += done;
        if (done != length)
            break;
    }

    if (written != count)
    {
        errno = writeError;
        errorMsg = formatString("Error writing '%s' (wrote %ld, expected %ld)\n", shownPath.c_str(),
                                static_cast<long>(written), static_cast<long>(count));
        return false;
    }
    if (std::fflush(file) != 0 || std::ferror(file))
    {
        errorMsg = writeFailure(SetFile::data, shownPath);
        return false;
    }
    return true;
}

bool HrtfSet::writeHeaderStream(std::FILE* file, const std::string& shownPath)
{
    const std::string mismatch = shapeError(*this);
    if (!mismatch.empty())
    {
        errorMsg = mismatch;
        return false;
    }
    // Line ends are CR LF on every platform.
    std::string text;
    if (!displayName.empty())
        text += formatString("%%%% displayName: %s\r\n", displayName.c_str());
    text += "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff\r\n";
    text += "% flags:";
    if (flags & symmetric)
        text += " symmetric";
    if (flags & ITD_extracted)
        text += " ITD_extracted";
    if (flags & freq_domain)
        text += " freq_domain";
    if (flags & encrypted)
        text += " encrypted";
    text += "\r\n";
    text += formatString("%d %d %d %d %d %d\r\n", sampRate, numElev, numHrtf, flags, numBCoeff, numACoeff);
    const std::size_t rings = static_cast<std::size_t>(numElev);
    text += "% elevs(1,:)\r\n";
    for (std::size_t e = 0; e < rings; ++e)
        text += formatString("%d%s", elevs[e], e + 1 < rings ? " " : "\r\n");
    text += "% elevs(2,:)\r\n";
    for (std::size_t e = 0; e < rings; ++e)
        text += formatString("%d%s", numAz[e], e + 1 < rings ? " " : "\r\n");
    if (flags & ITD_extracted)
    {
        text += "%  ITDs(1...n_hrtf)\r\n";
        for (std::size_t h = 0; h < static_cast<std::size_t>(numHrtf); ++h)
            text += fixedSixDecimals(itds[h]) + "\r\n";
    }

    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0
        || std::ferror(file))
    {
        errorMsg = writeFailure(SetFile::header, shownPath);
        return false;
    }
    return true;
}

bool HrtfSet::writeData()
{
    TempFile temp(path);
    return writeToTemp(*this, temp, SetFile::data, path) && moveIntoPlace(*this, temp, SetFile::data, path);
}

bool HrtfSet::writeHeader()
{
    const std::string headerPath = path + ".txt";
    TempFile temp(headerPath);
    return writeToTemp(*this, temp, SetFile::header, headerPath)
        && moveIntoPlace(*this, temp, SetFile::header, headerPath);
}

bool HrtfSet::write(const std::string& dataPath)
{
    path = dataPath;
    const std::string headerPath = path + ".txt";

    // Both files complete before either replaces what is on disk; the data
    // file goes into place first, the header after it.
    TempFile dataTemp(path);
    if (!writeToTemp(*this, dataTemp, SetFile::data, path))
        return false;
    TempFile headerTemp(headerPath);
    if (!writeToTemp(*this, headerTemp, SetFile::header, headerPath))
        return false;
    return moveIntoPlace(*this, dataTemp, SetFile::data, path)
        && moveIntoPlace(*this, headerTemp, SetFile::header, headerPath);
}

void removeTemporaryFiles(const std::string& dataPath)
{
    const std::string dir = directoryOf(dataPath);
    const std::string base = dataPath.substr(dataPath.rfind('/') == std::string::npos ? 0 : dataPath.rfind('/') + 1);
    const std::size_t patternBytes = sizeof tempSuffix - 1;
    const std::string stem = std::string(tempSuffix).substr(0, patternBytes - 6);
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr)
        return;
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(listing))
    {
        const std::string name = entry->d_name;
        for (const std::string& finalName : { base, base + ".txt" })
            if (name.size() == finalName.size() + patternBytes && name.compare(0, finalName.size(), finalName) == 0
                && name.compare(finalName.size(), stem.size(), stem) == 0)
                leftovers.push_back(dir + "/" + name);
    }
    ::closedir(listing);
    for (const std::string& path : leftovers)
        ::unlink(path.c_str());
}
