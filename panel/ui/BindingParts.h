#pragma once

// What the widget bindings of every kind share, and the binding of each kind.
#include "controls/Control.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <utility>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace binding {

// Applies the model's state to the widget now and after every change of the control. The
// widget may die first (its window closed); the control outlives it by contract.
template <class W, class Apply> void follow(Control& c, W* w, Apply apply) {
    apply(c, w);
    QPointer<W> alive(w);
    int focusSeen = c.focusRequests();
    c.watch([&c, alive, apply, focusSeen]() mutable {
        if (!alive)
            return;
        apply(c, alive.data());
        if (c.focusRequests() != focusSeen) {
            focusSeen = c.focusRequests();
            if (auto* widget = qobject_cast<QWidget*>(alive.data()))
                widget->setFocus();
        }
    });
}

void applyCommon(Control& c, QWidget* w);

// Mouse double-clicks and typed characters, seen before the widget handles them.
class OperatorEvents : public QObject {
public:
    OperatorEvents(QObject* parent, Control& c, bool keys)
        : QObject(parent)
        , control_(c)
        , keys_(keys) {}

    bool eventFilter(QObject*, QEvent* e) override;

private:
    Control& control_;
    bool keys_;
};

// A caret-to-end request is a count that grows; the view acts when it sees it grow.
struct CaretWatch {
    int seen;
    bool due(const Control& c) {
        if (c.caretMoves() == seen)
            return false;
        seen = c.caretMoves();
        return true;
    }
};

void bindRoot(QWidget* w, Control& c);
void bindLineEdit(QLineEdit* w, Control& c);
void bindPlainText(QPlainTextEdit* w, Control& c);
void bindCombo(QComboBox* w, Control& c);
void bindLabel(QLabel* w, Control& c);
void bindGroupBox(QGroupBox* w, Control& c);
void bindProgress(QProgressBar* w, Control& c);

void bindPushButton(QPushButton* w, Control& c);
void bindCheckBox(QCheckBox* w, Control& c);
// Option buttons of one container exclude each other, as the model's checked states say; the
// widgets never decide that themselves, so a model state with none checked can be shown.
using RadioGroup = std::vector<std::pair<QPointer<QRadioButton>, Control*>>;
void bindRadios(const std::shared_ptr<RadioGroup>& group);

void bindAction(QAction* a, Control& c);
void bindMenu(QMenu* m, Control& c);

} // namespace binding
