#include "app/MainWindow.h"

#include "app/MainComponent.h"

MainWindow::MainWindow(const juce::String& name, QuillonApplication& app)
    : juce::DocumentWindow(name,
                           juce::Desktop::getInstance().getDefaultLookAndFeel().findColour(
                               juce::ResizableWindow::backgroundColourId),
                           juce::DocumentWindow::allButtons)
{
    setUsingNativeTitleBar(true);
    setContentOwned(new MainComponent(app), true);
    setResizable(true, true);
    centreWithSize(getWidth(), getHeight());
    setVisible(true);
}

MainWindow::~MainWindow()
{
    tooltipWindow.reset();
    clearContentComponent();
}

void MainWindow::closeButtonPressed()
{
    if (auto* instance = juce::JUCEApplication::getInstance())
        instance->systemRequestedQuit();
}

bool MainWindow::endConversionForQuit()
{
    auto* component = dynamic_cast<MainComponent*>(getContentComponent());
    return component == nullptr || component->endConversionForQuit();
}

void MainWindow::setTooltipsEnabled(bool enabled)
{
    if (!enabled)
    {
        tooltipWindow.reset();
        return;
    }
    if (tooltipWindow == nullptr)
        tooltipWindow = std::make_unique<juce::TooltipWindow>(this, 700);
}
