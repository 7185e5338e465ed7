#include "app/StyleSheetSkinning.h"

#include <QApplication>
#include <QFile>
#include <QStyle>

QString StyleSheetSkinning::readSheet(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString sheet = QString::fromUtf8(file.readAll());
    return sheet.trimmed().isEmpty() ? QString() : sheet;
}

bool StyleSheetSkinning::skinStart(const QString& path, int kind) {
    if (kind == 0 && path.isEmpty()) {
        skinRemove();
        return true;
    }
    if (kind != 2)
        return false;
    const QString sheet = readSheet(path);
    if (sheet.isEmpty())
        return false;
    clearWindowSheets();
    current_ = sheet;
    qApp->setStyleSheet(sheet);
    return true;
}

void StyleSheetSkinning::skinWindowSetEx(const QString& controlName, const QString& path) {
    QWidget* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == controlName || top->findChild<QWidget*>(controlName)) {
            window = top;
            break;
        }
    }
    if (!window)
        return;
    const QString sheet = readSheet(path);
    if (!sheet.isEmpty() && sheet != current_) {
        window->setStyleSheet(sheet);
        skinnedWindows_.append(window);
        return;
    }
    // Same skin as the application's: polish again, so that widgets shown since pick it up.
    for (QWidget* w : window->findChildren<QWidget*>()) {
        w->style()->unpolish(w);
        w->style()->polish(w);
    }
    window->update();
}

void StyleSheetSkinning::skinRemove() {
    clearWindowSheets();
    current_.clear();
    qApp->setStyleSheet(QString());
}

void StyleSheetSkinning::clearWindowSheets() {
    for (const auto& w : skinnedWindows_)
        if (w)
            w->setStyleSheet(QString());
    skinnedWindows_.clear();
}
