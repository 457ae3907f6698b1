#pragma once

#include <QString>

class QWidget;

namespace qmt {

// The program's skin: a Qt style sheet read from a file. Windows take the whole sheet; a child
// is given a named skin element ("Toolbar", "Button", "StatusBar", ...) through its
// `skinElement` property, which the sheet selects on: QWidget[skinElement="Toolbar"] { ... }.
// A missing or damaged file leaves every window in the platform's own style, without a message.
class Skin
{
public:
    // Reads and checks the file; false (and no sheet) when it is missing or damaged.
    bool load(const QString &path);
    bool isLoaded() const { return !m_sheet.isEmpty(); }
    QString styleSheet() const { return m_sheet; }

    // Gives a top-level window the sheet (nothing when no skin is loaded).
    void applyToWindow(QWidget *window) const;
    // Names the skin element of a child and restyles it.
    static void applyElement(QWidget *child, const QString &name);

    // The skin every window of the program uses, once the main window has loaded one.
    static Skin *current();
    static void setCurrent(Skin *skin);

    // Whether text can be a style sheet: readable text, balanced braces, at least one rule.
    static bool looksLikeStyleSheet(const QString &text);

private:
    QString m_sheet;
};

} // namespace qmt
