// Where the program's message boxes go. The system reporter shows real boxes;
// tests install one that records the texts, since a box would block them.
#pragma once

#include <string>

namespace zelvo::ui {

class Reporter {
public:
    virtual ~Reporter() = default;
    // The uniform error box for a failure's message (the full-stop rule is
    // applied by the box, so pass the message as the failure carries it).
    virtual void ShowError(const std::string& message) = 0;
    // The information box (caption "Information", one "确定" button).
    virtual void ShowInformation(const std::string& text) = 0;
};

// Shows the platform's message box and the program's own information box.
class SystemReporter : public Reporter {
public:
    void ShowError(const std::string& message) override;
    void ShowInformation(const std::string& text) override;
};

Reporter& CurrentReporter();

// Makes a reporter current for as long as this object lives.
class ScopedReporter {
public:
    explicit ScopedReporter(Reporter& reporter);
    ~ScopedReporter();
    ScopedReporter(const ScopedReporter&) = delete;
    ScopedReporter& operator=(const ScopedReporter&) = delete;

private:
    Reporter* previous_;
};

}  // namespace zelvo::ui
