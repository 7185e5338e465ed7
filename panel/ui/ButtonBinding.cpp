// Binding the buttons: push buttons, check boxes and groups of option buttons.
#include "panel/ui/BindingParts.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace binding {

namespace {

void applyButton(Control& c, QAbstractButton* w) {
    applyCommon(c, w);
    w->setText(c.text());
    if (w->isCheckable() && w->isChecked() != c.checked()) {
        const QSignalBlocker quiet(w);
        w->setChecked(c.checked());
    }
}

// A button whose form lets its caption grow is as wide as its caption; one wider than the
// design goes onto two lines, the button growing downward first.
void fitCaption(QPushButton* w, const QRect& design) {
    QString shown = w->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
    w->setText(shown);
    const int cut = int(shown.lastIndexOf(QLatin1Char(' ')));
    if (w->sizeHint().width() > design.width() && cut > 0)
        w->setText(shown.replace(cut, 1, QLatin1Char('\n')));
    const QSize hint = w->sizeHint();
    w->setGeometry(design.x(), design.y(), std::max(design.width(), hint.width()),
                   std::max(design.height(), hint.height()));
}

} // namespace

void bindPushButton(QPushButton* w, Control& c) {
    if (w->property("captionGrows").toBool())
        follow(c, w, [design = w->geometry()](Control& c, QPushButton* w) {
            applyButton(c, w);
            fitCaption(w, design);
        });
    else
        follow(c, w, applyButton);
    QObject::connect(w, &QPushButton::clicked, w, [&c] { c.click(); });
}

void bindCheckBox(QCheckBox* w, Control& c) {
    follow(c, w, applyButton);
    QObject::connect(w, &QCheckBox::toggled, w, [&c](bool on) {
        c.setChecked(on);
        c.click();
    });
}

void bindRadios(const std::shared_ptr<RadioGroup>& group) {
    for (auto& [w, c] : *group) {
        w->setAutoExclusive(false);
        follow(*c, w.data(), applyButton);
        Control* clicked = c;
        QObject::connect(w, &QRadioButton::clicked, w, [group, clicked] {
            clicked->setChecked(true);
            for (auto& entry : *group)
                if (entry.second != clicked)
                    entry.second->setChecked(false);
            clicked->click();
            for (auto& [ow, oc] : *group)
                if (ow)
                    applyButton(*oc, ow);
        });
    }
}

} // namespace binding
