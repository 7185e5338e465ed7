#include "panel/ui/WidgetBinding.h"
#include "support/Doubles.h"

#include <QtWidgets>
#include <gtest/gtest.h>

namespace {

void typeKey(QObject* w, int key, const QString& text) {
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QApplication::sendEvent(w, &event);
    }
}

// A widget of kind W named like the control; actions are checkable, lists may be editable.
template <class W, bool editable = false> QObject* make(QWidget* root) {
    auto* w = new W(root);
    w->setObjectName("c");
    if constexpr (std::is_same_v<W, QAction>)
        w->setCheckable(true);
    if constexpr (std::is_same_v<W, QComboBox>)
        w->setEditable(editable);
    return w;
}

// What the operator sees of a widget.
QString shown(QObject* o) {
    QStringList s;
    auto* w = qobject_cast<QWidget*>(o);
    auto* a = qobject_cast<QAction*>(o);
    s << (w && !w->isEnabled() ? "disabled" : "")
      << ((w ? w->isHidden() : !a->isVisible()) ? "hidden" : "");
    if (a)
        s << a->text() << (a->isChecked() ? "checked" : "");
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        s << b->text() << (b->isChecked() ? "checked" : "");
    if (auto* g = qobject_cast<QGroupBox*>(o))
        s << g->title();
    if (auto* e = qobject_cast<QLineEdit*>(o))
        s << e->text();
    if (auto* p = qobject_cast<QProgressBar*>(o))
        s << QString("%1/%2").arg(p->value()).arg(p->maximum());
    if (auto* t = qobject_cast<QPlainTextEdit*>(o))
        s << t->toPlainText();
    if (auto* c = qobject_cast<QComboBox*>(o))
        s << QString("%1 of %2:").arg(c->currentIndex()).arg(c->count())
          << (c->currentIndex() < 0 && !c->isEditable() ? c->placeholderText() : c->currentText());
    s.removeAll("");
    return s.join(' ');
}

} // namespace

TEST(WidgetBinding, WhatTheModelSetsIsShownAndWhatTheOperatorDoesReachesTheModel) {
    const struct {
        const char* what;
        QObject* (*make)(QWidget*);
        std::function<void(Control&, QObject*)> act;
        const char *shown, *model, *events;
    } cases[] = {
        // From the model to the screen; nothing comes back as a second event.
        {"a field shows the text", make<QLineEdit>, [](Control& c, auto) { c.setText("abc"); },
         "abc", "abc", "change"},
        {"a button shows its caption, disabled and hidden", make<QPushButton>,
         [](Control& c, auto) { c.setText("Connect"), c.setEnabled(false), c.setVisible(false); },
         "disabled hidden Connect", "Connect", "change"},
        {"a frame shows its caption as title", make<QGroupBox>,
         [](Control& c, auto) { c.setText("BPI Server"); }, "BPI Server", "BPI Server", "change"},
        {"a check box shows its check", make<QCheckBox>,
         [](Control& c, auto) { c.setChecked(true); }, "checked", " checked", ""},
        {"a list shows the entries and the selection", make<QComboBox>,
         [](Control& c, auto) { c.setSelectedIndex(1); }, "1 of 2: COM7", "COM7 #1", "click"},
        {"a list with nothing selected shows the text instead", make<QComboBox>,
         [](Control& c, auto) { c.setText("None Selected"); }, "-1 of 2: None Selected",
         "None Selected", "change"},
        {"an editable list shows the text", make<QComboBox, true>,
         [](Control& c, auto) { c.setText("None Selected"); }, "-1 of 2: None Selected",
         "None Selected", "change"},
        {"a progress bar shows value and maximum", make<QProgressBar>,
         [](Control& c, auto) { c.setMaximum(250), c.setValue(125.4); }, "125/250", "", ""},
        {"a console shows CR LF, and CR and LF fed apart, as one line break", make<QPlainTextEdit>,
         [](Control& c, auto) { c.setText("a\r\n"), c.appendText("b\r"), c.appendText("\nc"); },
         "a\nb\nc", "a\r\nb\r\nc", "change change change"},
        {"a menu entry shows caption, check mark and visibility", make<QAction>,
         [](Control& c, auto) { c.setText("Options"), c.setChecked(true), c.setVisible(false); },
         "hidden Options checked", "Options checked", "change"},
        // From the operator to the model.
        {"typing in a field sets the text", make<QLineEdit>,
         [](Control&, QObject* o) { typeKey(o, '7', "7"); }, "7", "7", "change"},
        {"pressing a button clicks it", make<QPushButton>,
         [](Control&, QObject* o) { static_cast<QPushButton*>(o)->click(); }, "", "", "click"},
        {"choosing a menu entry clicks it and leaves the check mark to the model", make<QAction>,
         [](Control&, QObject* o) { static_cast<QAction*>(o)->trigger(); }, "", "", "click"},
        {"ticking a check box checks and clicks it", make<QCheckBox>,
         [](Control&, QObject* o) { static_cast<QCheckBox*>(o)->click(); }, "checked", " checked",
         "click"},
        {"choosing a list entry selects it and clicks the list", make<QComboBox>,
         [](Control&, QObject* o) {
             static_cast<QComboBox*>(o)->setCurrentIndex(1);
             emit static_cast<QComboBox*>(o)->activated(1);
         },
         "1 of 2: COM7", "COM7 #1", "click"},
        {"typing in an editable list sets the text", make<QComboBox, true>,
         [](Control&, QObject* o) { typeKey(static_cast<QComboBox*>(o)->lineEdit(), 'X', "x"); },
         "-1 of 2: x", "x", "change"},
        {"typing in a console raises each key before the text shows it", make<QPlainTextEdit>,
         [](Control&, QObject* o) {
             typeKey(o, 'A', "a"), typeKey(o, Qt::Key_Return, "\r"), typeKey(o, 'B', "b");
         },
         "a\nb", "a\r\nb", "key 97 on '' change key 13 on 'a' change key 98 on 'a\r\n' change"},
        {"double-clicking a picture double-clicks it", make<QLabel>,
         [](Control&, QObject* o) {
             QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(1, 1), QPointF(1, 1),
                             Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(o, &dbl);
         },
         "", "", "double-click"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        Control c{"c"};
        c.addItem("COM3");
        c.addItem("COM7");
        QStringList events;
        c.onChange = [&] { events << "change"; };
        c.onClick = [&] { events << "click"; };
        c.onDoubleClick = [&] { events << "double-click"; };
        c.onKeyPress = [&](int key) { events << QString("key %1 on '%2'").arg(key).arg(c.text()); };
        QWidget root;
        QObject* w = t.make(&root);
        EXPECT_TRUE(bindControls(&root, {&c}).isEmpty());
        t.act(c, w);
        EXPECT_EQ(shown(w), t.shown);
        EXPECT_EQ(c.text() + (c.checked() ? " checked" : "") +
                      (c.selectedIndex() >= 0 ? QString(" #%1").arg(c.selectedIndex()) : ""),
                  t.model);
        EXPECT_EQ(events.join(' '), t.events);
    }
}
