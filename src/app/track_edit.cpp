#include "app/track_edit.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>

namespace tollwick {
namespace {

bool IsPrintable(const QString& text) {
    if (text.isEmpty()) return false;
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

}  // namespace

TrackEdit::TrackEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!programChange_) emit OperatorChanged();
    });
}

void TrackEdit::SetProgramText(const QString& text) {
    programChange_ = true;
    setPlainText(text);
    programChange_ = false;
}

void TrackEdit::RemoveCharacter(int index, int selectionStart, int selectionEnd) {
    programChange_ = true;
    QTextCursor cursor(document());
    cursor.setPosition(index);
    cursor.deleteChar();
    programChange_ = false;
    SetSelection(selectionStart, selectionEnd);
}

void TrackEdit::SetSelection(int start, int end) {
    const int length = Length();
    start = std::clamp(start, 0, length);
    end = std::clamp(end, 0, length);
    QTextCursor cursor = textCursor();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

int TrackEdit::SelectionStart() const {
    return textCursor().selectionStart();
}
int TrackEdit::SelectionEnd() const {
    return textCursor().selectionEnd();
}

int TrackEdit::Room(int wanted) const {
    const QTextCursor cursor = textCursor();
    const int kept = Length() - (cursor.selectionEnd() - cursor.selectionStart());
    return std::clamp(limit_ - kept, 0, wanted);
}

void TrackEdit::InsertOperatorText(QString text) {
    // Letter by letter, so that the length stays what was typed.
    for (QChar& c : text) c = c.toUpper();
    text.truncate(Room(static_cast<int>(text.size())));
    if (text.isEmpty()) return;
    QTextCursor cursor = textCursor();
    cursor.insertText(text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TrackEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter is not taken by the box, but it must not close the window either: the typed data
        // would be lost. Ctrl+Enter types a line break: on the reader's desktop that is two
        // characters, carriage return and line feed, and the box counts and filters both (the
        // document would fold "\r\n" into one, so two breaks stand for them).
        event->accept();
        if (event->modifiers() & Qt::ControlModifier) InsertOperatorText(QStringLiteral("\n\n"));
        return;
    }
    const bool typing =
        IsPrintable(event->text()) &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typing) {
        event->accept();
        InsertOperatorText(event->text());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TrackEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (event->commitString().isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    const QString committed = event->commitString();
    QInputMethodEvent rest(event->preeditString(), event->attributes());
    rest.setCommitString(QString(), event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&rest);
    InsertOperatorText(committed);
}

void TrackEdit::insertFromMimeData(const QMimeData* source) {
    if (source == nullptr || !source->hasText()) return;
    InsertOperatorText(source->text());
}

void TrackEdit::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    emit FocusReceived();
}

}  // namespace tollwick
