// The program's start: the library creates the application object and runs
// the message loop.

#include "app/QuillonApplication.h"

START_JUCE_APPLICATION (QuillonApplication)
