#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// One control of a form as the program sees it: what it shows and whether it can be used.
// The model handlers (onChange, onClick, ...) carry the form's behaviour; the view listens
// through watch() and redraws. Setting a different text raises onChange at once, whoever
// sets it, as a form's change event does; handlers may set texts again (re-entrancy).
class Control {
public:
    explicit Control(QString name, QString text = {}, QString toolTip = {});
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const QString& name() const { return name_; }

    const QString& text() const { return text_; }
    void setText(const QString& text);
    // Grows the text in place (time in proportion to what is added); the view is told how
    // much was added so that it can append too.
    void appendText(const QString& more);
    // Characters the last change added at the end, or -1 when it changed the text otherwise.
    qsizetype lastAppended() const { return lastAppended_; }
    // Drops the first count characters (a console keeping only its latest text).
    void dropFront(qsizetype count);

    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    bool visible() const { return visible_; }
    void setVisible(bool on);
    bool checked() const { return checked_; }
    void setChecked(bool on);
    const QString& toolTip() const { return toolTip_; }
    void setToolTip(const QString& tip);

    // List controls: entries and the selected index (-1 when none).
    const QStringList& items() const { return items_; }
    void addItem(const QString& item);
    void removeItem(int index);
    void clearItems();
    int selectedIndex() const { return selected_; }
    QString selectedItem() const;
    // Raises onClick, as a list's click event does when the program selects an entry.
    void setSelectedIndex(int index);

    // Progress bars.
    double maximum() const { return maximum_; }
    void setMaximum(double max);
    double value() const { return value_; }
    void setValue(double value);

    // Windows: the outer height, in twips as the forms give it.
    int height() const { return height_; }
    void setHeight(int twips);

    // Text fields: ask the view to move the caret to the end (which scrolls to the last line).
    void moveCaretToEnd();
    int caretMoves() const { return caretMoves_; }
    // Asks the view to put the input focus here; a count that grows, like the caret's.
    void setFocus();
    int focusRequests() const { return focusRequests_; }

    // Operator actions, called by the view (or a test, or the command line).
    void click();
    void doubleClick();
    void keyPress(int code);

    std::function<void()> onChange;
    std::function<void()> onClick;
    std::function<void()> onDoubleClick;
    std::function<void(int)> onKeyPress;

    // The view's listener: called after any visible property changed.
    void watch(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }

private:
    void notify();

    QString name_;
    QString text_;
    QString toolTip_;
    bool enabled_ = true;
    bool visible_ = true;
    bool checked_ = false;
    QStringList items_;
    int selected_ = -1;
    double maximum_ = 100;
    double value_ = 0;
    int height_ = 0;
    int caretMoves_ = 0;
    int focusRequests_ = 0;
    qsizetype lastAppended_ = -1;
    std::vector<std::function<void()>> listeners_;
};
