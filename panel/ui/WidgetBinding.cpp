// Binding a form: each control to the widget of its name, by the widget's kind. The forms'
// roots, lists, labels, group boxes and progress bars bind here; text fields, buttons and
// menus have files of their own.
#include "panel/ui/WidgetBinding.h"

#include "panel/ui/BindingParts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <map>
#include <memory>

namespace binding {

void applyCommon(Control& c, QWidget* w) {
    w->setEnabled(c.enabled());
    w->setVisible(c.visible());
    if (w->toolTip() != c.toolTip())
        w->setToolTip(c.toolTip());
}

bool OperatorEvents::eventFilter(QObject*, QEvent* e) {
    if (e->type() == QEvent::MouseButtonDblClick) {
        control_.doubleClick();
    } else if (keys_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        // Tab moves the focus on: it is no character for the board.
        if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab)
            return false;
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
            control_.keyPress(13);
        else if (k->key() != Qt::Key_Delete)
            for (QChar ch : k->text())
                control_.keyPress(ch.unicode());
    }
    return false;
}

namespace {

// The debug fields are uncovered by the taller height the access code sets, and by nothing
// else: the window grows by their height as far as the screen allows, the consoles giving up
// what it does not.
void showDebugArea(QWidget* window, QWidget* debug) {
    debug->setVisible(true);
    int room = QWIDGETSIZE_MAX;
    if (QScreen* screen = window->screen())
        room = screen->availableGeometry().height() -
               (window->frameGeometry().height() - window->height());
    const int want = window->height() + debug->minimumHeight();
    window->resize(window->width(),
                   std::max(window->minimumSizeHint().height(), std::min(want, room)));
}

} // namespace

void bindRoot(QWidget* w, Control& c) {
    auto bound = std::make_shared<bool>(false);
    follow(c, w, [bound](Control& c, QWidget* w) {
        w->setWindowTitle(c.text());
        w->setEnabled(c.enabled());
        if (auto* debug = w->findChild<QWidget*>("debugArea")) {
            const bool uncovered = c.height() > DesignHeightTwips;
            if (uncovered && !debug->isVisibleTo(w))
                showDebugArea(w, debug);
            else if (!uncovered && debug->isVisibleTo(w))
                debug->hide();
        }
        // Showing a form at bind time is the caller's choice; later the model may show it.
        // Hiding a dialog also ends its exec().
        if (!c.visible() && w->isVisible())
            w->hide();
        else if (c.visible() && *bound && !w->isVisible())
            w->show();
    });
    *bound = true;
}

void bindCombo(QComboBox* w, Control& c) {
    follow(c, w, [](Control& c, QComboBox* w) {
        applyCommon(c, w);
        const QSignalBlocker quiet(w);
        QStringList shown;
        for (int i = 0; i < w->count(); ++i)
            shown << w->itemText(i);
        if (shown != c.items()) {
            w->clear();
            w->addItems(c.items());
        }
        if (w->currentIndex() != c.selectedIndex())
            w->setCurrentIndex(c.selectedIndex());
        if (w->isEditable()) {
            if (w->currentText() != c.text()) {
                const int pos = w->lineEdit()->cursorPosition();
                w->setEditText(c.text());
                w->lineEdit()->setCursorPosition(std::min(pos, int(c.text().size())));
            }
        } else {
            w->setPlaceholderText(c.selectedIndex() < 0 ? c.text() : QString());
        }
    });
    QObject::connect(w, &QComboBox::activated, w, [&c](int index) { c.setSelectedIndex(index); });
    if (w->isEditable())
        QObject::connect(w->lineEdit(), &QLineEdit::textEdited, w,
                         [&c](const QString& s) { c.setText(s); });
}

void bindLabel(QLabel* w, Control& c) {
    follow(c, w, [](Control& c, QLabel* w) {
        applyCommon(c, w);
        // A picture keeps its picture; pictures have no caption in the model.
        if (w->pixmap().isNull() && w->text() != c.text()) {
            w->setText(c.text());
            // Progress captions change while long operations hold the thread.
            if (w->isVisible())
                w->repaint();
        }
    });
    w->installEventFilter(new OperatorEvents(w, c, false));
}

void bindGroupBox(QGroupBox* w, Control& c) {
    follow(c, w, [](Control& c, QGroupBox* w) {
        applyCommon(c, w);
        w->setTitle(c.text());
    });
}

void bindProgress(QProgressBar* w, Control& c) {
    follow(c, w, [](Control& c, QProgressBar* w) {
        applyCommon(c, w);
        const int max = std::max(0, int(c.maximum() + 0.5));
        const int value = std::clamp(int(c.value() + 0.5), 0, max);
        if (w->minimum() != 0 || w->maximum() != max)
            w->setRange(0, max);
        if (w->value() != value) {
            w->setValue(value);
            // Downloads hold the thread, so the bar would not be drawn until they end.
            w->repaint();
        }
    });
}

} // namespace binding

namespace {

// True when the object lies in root's own window (the dialogs are children of the main window
// but are forms of their own). Menus are pop-up windows inside the form.
bool belongsTo(QObject* obj, QWidget* root) {
    for (QObject* p = obj->parent(); p; p = p->parent()) {
        if (p == root)
            return true;
        auto* w = qobject_cast<QWidget*>(p);
        if (w && w->isWindow() && !qobject_cast<QMenu*>(w))
            return false;
    }
    return false;
}

QObject* findInForm(QWidget* root, const QString& name) {
    for (QObject* obj : root->findChildren<QObject*>(name))
        if (belongsTo(obj, root))
            return obj;
    return nullptr;
}

} // namespace

QStringList bindControls(QWidget* root, const std::vector<Control*>& controls) {
    using namespace binding;
    QStringList missing;
    std::map<QWidget*, std::shared_ptr<RadioGroup>> radios;
    for (Control* c : controls) {
        if (c->name() == root->objectName()) {
            bindRoot(root, *c);
            continue;
        }
        QObject* obj = findInForm(root, c->name());
        if (auto* a = qobject_cast<QAction*>(obj))
            bindAction(a, *c);
        else if (auto* m = qobject_cast<QMenu*>(obj))
            bindMenu(m, *c);
        else if (auto* b = qobject_cast<QRadioButton*>(obj)) {
            auto& group = radios[b->parentWidget()];
            if (!group)
                group = std::make_shared<RadioGroup>();
            group->emplace_back(b, c);
        } else if (auto* b = qobject_cast<QCheckBox*>(obj))
            bindCheckBox(b, *c);
        else if (auto* b = qobject_cast<QPushButton*>(obj))
            bindPushButton(b, *c);
        else if (auto* e = qobject_cast<QLineEdit*>(obj))
            bindLineEdit(e, *c);
        else if (auto* e = qobject_cast<QPlainTextEdit*>(obj))
            bindPlainText(e, *c);
        else if (auto* cb = qobject_cast<QComboBox*>(obj))
            bindCombo(cb, *c);
        else if (auto* p = qobject_cast<QProgressBar*>(obj))
            bindProgress(p, *c);
        else if (auto* g = qobject_cast<QGroupBox*>(obj))
            bindGroupBox(g, *c);
        else if (auto* l = qobject_cast<QLabel*>(obj))
            bindLabel(l, *c);
        else if (auto* w = qobject_cast<QWidget*>(obj))
            follow(*c, w, applyCommon);
        else
            missing << c->name();
    }
    for (auto& [parent, group] : radios)
        bindRadios(group);
    if (!missing.isEmpty())
        qWarning("Controls without a widget in %s: %s", qPrintable(root->objectName()),
                 qPrintable(missing.join(QLatin1String(", "))));
    return missing;
}
