#pragma once

#include "engine/Prompter.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QFileDialog;

// The open-file dialog. Filters come in the program's form, description|pattern pairs.
class FileDialogPicker : public FilePicker {
public:
    explicit FileDialogPicker(QWidget* parent = nullptr)
        : parent_(parent) {}

    QString pick(const QString& title, const QString& filter) override;
    QString choose(const Request& r) override;

    // Called once the dialog runs (tests drive it from here).
    std::function<void(QFileDialog&)> onShown;

private:
    QPointer<QWidget> parent_;
};

// "Bit Files (*.bit)| *.bit|All Files (*.*)|*.*||" -> "Bit Files (*.bit);;All Files (*)":
// descriptions lose their own pattern list, patterns are separated by ; and may carry blanks,
// and *.* means every file.
QString toQtFilter(const QString& filter);
