#include "components/skin.h"

#include <QFile>
#include <QStringDecoder>
#include <QStyle>
#include <QVariant>
#include <QWidget>

namespace qmt {
namespace {

// A skin is a few kilobytes; anything much larger is not one.
constexpr qint64 kMaxSkinBytes = 1024 * 1024;

Skin *&currentSkin()
{
    static Skin *skin = nullptr;
    return skin;
}

} // namespace

bool Skin::load(const QString &path)
{
    m_sheet.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSkinBytes)
        return false;
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError() || !looksLikeStyleSheet(text))
        return false;
    m_sheet = text;
    return true;
}

bool Skin::looksLikeStyleSheet(const QString &text)
{
    int depth = 0;
    int rules = 0;
    bool inComment = false;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c.unicode() == 0 || (c.category() == QChar::Other_Control && !c.isSpace()))
            return false;
        if (inComment) {
            if (c == QLatin1Char('*') && next == QLatin1Char('/')) {
                inComment = false;
                ++i;
            }
            continue;
        }
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            inComment = true;
            ++i;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('{')) {
            if (++depth > 1)
                return false;
        } else if (c == QLatin1Char('}')) {
            if (--depth < 0)
                return false;
            ++rules;
        }
    }
    return depth == 0 && !inComment && quote.isNull() && rules > 0;
}

void Skin::applyToWindow(QWidget *window) const
{
    if (window && isLoaded())
        window->setStyleSheet(m_sheet);
}

void Skin::applyElement(QWidget *child, const QString &name)
{
    if (!child)
        return;
    child->setProperty("skinElement", name);
    // Property selectors are matched when a widget is polished.
    child->style()->unpolish(child);
    child->style()->polish(child);
    child->update();
}

Skin *Skin::current() { return currentSkin(); }
void Skin::setCurrent(Skin *skin) { currentSkin() = skin; }

} // namespace qmt
