#pragma once

#include <cstdarg>
#include <string>

// The sink's formatting rule, shared by every sink: printf-format into at most
// 255 bytes; a longer result is cut, and the cut is moved back to a UTF-8
// character boundary so that a long non-ASCII path never yields a broken sequence.
constexpr std::size_t maxMessageBytes = 255;

std::string formatMessageV(const char* format, va_list args);
std::string formatMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Longest prefix of text[0, length) that ends on a UTF-8 character boundary.
std::size_t utf8PrefixLength(const char* text, std::size_t length);
