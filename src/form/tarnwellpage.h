#pragma once

#include <QWizardPage>

// A wizard page whose completeness is set from outside. QWizard enables Next (and
// Finish on the last page) from QWizardPage::isComplete(); the wizard class decides
// that state from its own checks, so the page only carries the flag.
class TarnwellPage : public QWizardPage
{
    Q_OBJECT

public:
    using QWizardPage::QWizardPage;

    bool isComplete() const override { return complete; }

    void setComplete(bool value)
    {
        if (value == complete)
            return;
        complete = value;
        emit completeChanged();
    }

private:
    bool complete = true;
};
