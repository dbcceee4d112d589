#include "batch/messages/MessageText.h"

#include <algorithm>
#include <cstdio>

std::size_t utf8PrefixLength(const char* text, std::size_t length)
{
    // Step back over at most three continuation bytes to the lead byte of the
    // last character, then keep that character only if it is complete.
    std::size_t lead = length;
    int continuationBytes = 0;
    while (lead > 0 && continuationBytes < 4)
    {
        const auto byte = static_cast<unsigned char>(text[lead - 1]);
        --lead;
        if ((byte & 0xC0) != 0x80)
        {
            std::size_t needed = 1;
            if ((byte & 0xE0) == 0xC0)
                needed = 2;
            else if ((byte & 0xF0) == 0xE0)
                needed = 3;
            else if ((byte & 0xF8) == 0xF0)
                needed = 4;
            return length - lead >= needed ? length : lead;
        }
        ++continuationBytes;
    }
    return length; // not UTF-8 we can repair; leave it as it is
}

std::string formatMessageV(const char* format, va_list args)
{
    char buffer[maxMessageBytes + 1];
    const int formatted = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (formatted < 0)
        return {};
    std::size_t length = static_cast<std::size_t>(formatted);
    if (length > maxMessageBytes)
        length = utf8PrefixLength(buffer, maxMessageBytes);
    return std::string(buffer, length);
}

std::string formatMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = formatMessageV(format, args);
    va_end(args);
    return text;
}
