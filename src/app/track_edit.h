// A track box of the main window: a multi-line edit that turns typed letters into capitals,
// keeps typed and pasted text within its limit, and tells operator changes apart from texts that
// the program puts into it.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace tollwick {

class TrackEdit : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit TrackEdit(QWidget* parent = nullptr);

    QString Text() const { return toPlainText(); }
    int Length() const { return static_cast<int>(toPlainText().size()); }

    // Replaces the text without any change notification and without applying the limit.
    void SetProgramText(const QString& text);
    // Removes the character at `index` without a change notification; then selects start..end
    // (clamped to the new text).
    void RemoveCharacter(int index, int selectionStart, int selectionEnd);
    void SetSelection(int start, int end);
    int SelectionStart() const;
    int SelectionEnd() const;

    // Operator input stops at this many characters; a text that is already longer stays.
    void SetLimit(int limit) { limit_ = limit; }
    int Limit() const { return limit_; }

  signals:
    // The operator changed the text (typing, pasting, cutting, undo).
    void OperatorChanged();
    // The box received the keyboard focus.
    void FocusReceived();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    int limit_ = 30000;
    bool programChange_ = false;

    // How many of `wanted` characters fit when they replace the current selection.
    int Room(int wanted) const;
    void InsertOperatorText(QString text);
};

}  // namespace tollwick
