#include "app/KVClickComponent.h"

const char* const KVClickComponent::webSite = "https://www.kelvane.example/quillon";

void KVClickComponent::mouseDown(const juce::MouseEvent&)
{
    // Any button, on press. A browser that cannot be started is not reported.
    juce::URL(webSite).launchInDefaultBrowser();
}
