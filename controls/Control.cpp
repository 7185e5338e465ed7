#include "controls/Control.h"

Control::Control(QString name, QString text, QString toolTip)
    : name_(std::move(name))
    , text_(std::move(text))
    , toolTip_(std::move(toolTip)) {}

void Control::notify() {
    for (auto& l : listeners_)
        l();
}

void Control::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    lastAppended_ = -1;
    notify();
    if (onChange)
        onChange();
}

void Control::appendText(const QString& more) {
    if (more.isEmpty())
        return;
    text_.append(more);
    lastAppended_ = more.size();
    notify();
    lastAppended_ = -1;
    if (onChange)
        onChange();
}

void Control::dropFront(qsizetype count) {
    if (count <= 0)
        return;
    text_.remove(0, count);
    lastAppended_ = -1;
    notify();
    if (onChange)
        onChange();
}

void Control::setEnabled(bool on) {
    if (on == enabled_)
        return;
    enabled_ = on;
    notify();
}

void Control::setVisible(bool on) {
    if (on == visible_)
        return;
    visible_ = on;
    notify();
}

void Control::setChecked(bool on) {
    if (on == checked_)
        return;
    checked_ = on;
    notify();
}

void Control::setToolTip(const QString& tip) {
    toolTip_ = tip;
    notify();
}

void Control::addItem(const QString& item) {
    items_.append(item);
    notify();
}

void Control::removeItem(int index) {
    if (index < 0 || index >= items_.size())
        return;
    items_.removeAt(index);
    if (selected_ >= items_.size())
        selected_ = items_.isEmpty() ? -1 : int(items_.size()) - 1;
    notify();
}

void Control::clearItems() {
    items_.clear();
    selected_ = -1;
    notify();
}

QString Control::selectedItem() const {
    return selected_ >= 0 && selected_ < items_.size() ? items_[selected_] : QString();
}

void Control::setSelectedIndex(int index) {
    if (index < -1 || index >= items_.size())
        return;
    selected_ = index;
    if (index >= 0)
        text_ = items_[index];
    notify();
    if (onClick)
        onClick();
}

void Control::setMaximum(double max) {
    maximum_ = max;
    notify();
}

void Control::setValue(double value) {
    if (value == value_)
        return;
    value_ = value;
    notify();
}

void Control::setHeight(int twips) {
    height_ = twips;
    notify();
}

void Control::setFocus() {
    ++focusRequests_;
    notify();
}

void Control::moveCaretToEnd() {
    ++caretMoves_;
    notify();
}

void Control::click() {
    if (onClick)
        onClick();
}

void Control::doubleClick() {
    if (onDoubleClick)
        onDoubleClick();
}

void Control::keyPress(int code) {
    if (onKeyPress)
        onKeyPress(code);
}
