#pragma once

// The message sink of a conversion: everything a conversion tells the user
// goes through printMsg, printf-style, at most 255 bytes of UTF-8 per call.
// Implementations are owned and destroyed through their own type.
class PrintMsgI
{
public:
    virtual void printMsg(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        = 0;

protected:
    ~PrintMsgI() = default;
};
