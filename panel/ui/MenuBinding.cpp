// Binding the menus and their actions, with the mnemonics their forms mark.
#include "panel/ui/BindingParts.h"

#include <QAction>
#include <QMenu>

namespace binding {

namespace {

// The keyboard mnemonic a menu's form marks with & goes before the first place of that letter
// in whatever caption the model gives; the caption shown stays the model's.
QChar mnemonicIn(const QString& designed) {
    for (qsizetype i = 0; i + 1 < designed.size(); ++i)
        if (designed[i] == QLatin1Char('&')) {
            if (designed[i + 1] != QLatin1Char('&'))
                return designed[i + 1];
            ++i;
        }
    return {};
}

QString withMnemonic(const QString& caption, QChar letter) {
    QString out = caption;
    out.replace(QLatin1String("&"), QLatin1String("&&"));
    const qsizetype at = letter.isNull() ? -1 : out.indexOf(letter);
    if (at >= 0)
        out.insert(at, QLatin1Char('&'));
    return out;
}

} // namespace

void bindAction(QAction* a, Control& c) {
    auto apply = [letter = mnemonicIn(a->text())](Control& c, QAction* a) {
        a->setText(withMnemonic(c.text(), letter));
        a->setToolTip(c.toolTip().isEmpty() ? c.text() : c.toolTip());
        a->setEnabled(c.enabled());
        a->setVisible(c.visible());
        if (c.checked())
            a->setCheckable(true);
        if (a->isCheckable() && a->isChecked() != c.checked()) {
            const QSignalBlocker quiet(a);
            a->setChecked(c.checked());
        }
    };
    follow(c, a, apply);
    QPointer<QAction> alive(a);
    QObject::connect(a, &QAction::triggered, a, [&c, alive, apply] {
        c.click();
        // A checkable action toggles itself; the model's check marks decide.
        if (alive)
            apply(c, alive.data());
    });
}

void bindMenu(QMenu* m, Control& c) {
    follow(c, m, [letter = mnemonicIn(m->title())](Control& c, QMenu* m) {
        m->setTitle(withMnemonic(c.text(), letter));
        m->menuAction()->setEnabled(c.enabled());
        m->menuAction()->setVisible(c.visible());
    });
}

} // namespace binding
