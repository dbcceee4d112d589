#include "report/Markup.h"

#include "batch/messages/FormatString.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace
{
// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are
// not one (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8SequenceLength(const std::string& s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2, value = lead & 0x1f;
    else if (lead >= 0xe0 && lead <= 0xef)
        length = 3, value = lead & 0x0f;
    else if (lead >= 0xf0 && lead <= 0xf4)
        length = 4, value = lead & 0x07;
    else
        return 0;
    if (i + length > s.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
    {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3f);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xd800 && value <= 0xdfff)))
        || (length == 4 && (value < 0x10000 || value > 0x10ffff)))
        return 0;
    return length;
}

const char kReplacement[] = "\xef\xbf\xbd";  // U+FFFD


// s with each valid UTF-8 sequence of two or more bytes kept, each invalid
// byte replaced by U+FFFD, and each single byte passed to ascii.
template <typename Ascii>
std::string escaped(const std::string& s, Ascii ascii)
{
    std::string out;
    out.reserve(s.size() + 2);
    for (std::size_t i = 0; i < s.size();)
    {
        const std::size_t length = utf8SequenceLength(s, i);
        if (length == 0)
            out += kReplacement, ++i;
        else if (length == 1)
            ascii(out, static_cast<unsigned char>(s[i])), ++i;
        else
            out.append(s, i, length), i += length;
    }
    return out;
}
} // namespace

std::string jsonString(const std::string& s)
{
    return "\"" + escaped(s, [](std::string& out, unsigned char c) {
        switch (c)
        {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f)
                out += formatString("\\u%04x", c);
            else
                out += static_cast<char>(c);
        }
    }) + "\"";
}

namespace
{
template <typename Real>
std::string shortest(Real v)
{
    if (!std::isfinite(v))
        return "null";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}
} // namespace

std::string jsonNumber(double v)
{
    return shortest(v);
}

std::string jsonNumber(float v)
{
    return shortest(v);
}

std::string xmlText(const std::string& s)
{
    return escaped(s, [](std::string& out, unsigned char c) {
        switch (c)
        {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // Of the control characters only tab and newline are kept: XML reads a carriage return as a line end.
            if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f)
                out += kReplacement;
            else
                out += static_cast<char>(c);
        }
    });
}
