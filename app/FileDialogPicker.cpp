#include "app/FileDialogPicker.h"

#include <QApplication>
#include <QFileDialog>
#include <QRegularExpression>

QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    static const QRegularExpression ownPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (QString p : parts[i + 1].split(QLatin1Char(';'))) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
            if (!p.isEmpty())
                patterns << p;
        }
        if (patterns.isEmpty())
            continue;
        QString description = parts[i];
        description.remove(ownPatterns);
        description = description.trimmed();
        if (description.isEmpty())
            description = patterns.join(QLatin1Char(' '));
        out << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return out.join(QLatin1String(";;"));
}

QString FileDialogPicker::pick(const QString& title, const QString& filter) {
    return choose({title, filter, {}, false});
}

QString FileDialogPicker::choose(const Request& r) {
    QWidget* parent = parent_ ? parent_.data() : QApplication::activeWindow();
    QFileDialog dialog(parent, r.title, r.folder, toQtFilter(r.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(r.mayBeNew ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setObjectName("fileDialog");
    if (onShown)
        QMetaObject::invokeMethod(
            &dialog, [this, &dialog] { onShown(dialog); }, Qt::QueuedConnection);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}
