#pragma once

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QTest>

// Types the text into the field and presses Enter, as a person does: while completions are
// offered, Enter goes to their list first.
inline void TypeAndEnter(QWidget* field, const QString& text) {
    QTest::keyClicks(field, text);
    auto* line = qobject_cast<QLineEdit*>(field);
    QWidget* popup = line && line->completer() ? line->completer()->popup() : nullptr;
    QTest::keyClick(popup && popup->isVisible() ? popup : field, Qt::Key_Return);
}
