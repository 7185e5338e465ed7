#pragma once

#include "link/Prompter.h"

#include <QPointer>
#include <QWidget>

// The open-file dialog. Filters come in the program's form, description|pattern pairs.
class FileDialogPicker : public FilePicker {
public:
    explicit FileDialogPicker(QWidget* parent = nullptr)
        : parent_(parent) {}

    QString pick(const QString& title, const QString& filter) override;

private:
    QPointer<QWidget> parent_;
};

// "Bit Files (*.bit)| *.bit|All Files (*.*)|*.*||" -> "Bit Files (*.bit);;All Files (*)":
// descriptions lose their own pattern list, patterns are separated by ; and may carry blanks,
// and *.* means every file.
QString toQtFilter(const QString& filter);
