#pragma once

// Transparent area over the maker's logo: a press opens the maker's web site.

#include <juce_gui_basics/juce_gui_basics.h>

class KVClickComponent : public juce::Component
{
public:
    KVClickComponent() = default;
    ~KVClickComponent() override = default;

    void mouseDown(const juce::MouseEvent& event) override;

    static const char* const webSite;

private:
    JUCE_DECLARE_NON_COPYABLE (KVClickComponent)
};
