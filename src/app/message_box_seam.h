// Every modal message box of the program goes through this seam, so that tests can answer it.
#pragma once

#include <QString>

class QWidget;

namespace tollwick {

class MessageBoxSeam {
  public:
    virtual ~MessageBoxSeam() = default;
    // Shows `text` with an OK button and returns when the operator has closed it.
    virtual void Inform(QWidget* parent, const QString& text) = 0;
    // Shows `text` with two buttons; true when the operator chose `yes`. Boxes that nobody
    // answers (tests that do not expect one) choose `no`.
    virtual bool Ask(QWidget* /*parent*/, const QString& /*text*/, const QString& /*yes*/,
                     const QString& /*no*/) {
        return false;
    }
};

// The program's message boxes: captioned with the program's name, an OK button.
class QtMessageBoxSeam final : public MessageBoxSeam {
  public:
    void Inform(QWidget* parent, const QString& text) override;
    bool Ask(QWidget* parent, const QString& text, const QString& yes, const QString& no) override;
};

}  // namespace tollwick
