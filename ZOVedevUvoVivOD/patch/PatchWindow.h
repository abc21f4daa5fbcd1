#pragma once

#include <QString>

namespace modPatch {

/// What start-up, the patch routines and the feedback routines change in the patch window.
class PatchWindow {
public:
    virtual ~PatchWindow() = default;

    /// Loads the window (its load handler fills the labels) and shows it without waiting.
    virtual void Show() = 0;
    /// False once the window has been unloaded, or before it was first shown.
    virtual bool isLoaded() const = 0;
    /// Ticks (1) or clears (0) element 0 ("Connected to OLBRA") or 1 ("Applied the Patch").
    virtual void setCheck1Value(int index, int value) = 0;
    /// Writes panel 1 or 2 of the status bar; panel 3 keeps the date by itself.
    virtual void setStatusPanelText(int panel, const QString &text) = 0;
    virtual QString statusPanelText(int panel) const = 0;
    /// Refuses a value outside the bar's range of 0 to 100.
    virtual void setProgressBarValue(float value) = 0;
    virtual QString reasonCaption() const = 0;
    virtual void setReasonCaption(const QString &caption) = 0;
};

} // namespace modPatch
