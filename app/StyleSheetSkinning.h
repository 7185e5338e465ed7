#pragma once

#include "panel/Skinning.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

// Skins as Qt style sheets: a skin file (*.urf) holds a style sheet for the whole application.
class StyleSheetSkinning : public Skinning {
public:
    bool skinStart(const QString& path, int kind) override;
    void skinWindowSetEx(const QString& controlName, const QString& path) override;
    void skinRemove() override;

    // The sheet in force, empty for the plain look.
    const QString& current() const { return current_; }

    // The file's style sheet, or empty when it is missing, unreadable or blank.
    static QString readSheet(const QString& path);

private:
    void clearWindowSheets();

    QString current_;
    QList<QPointer<QWidget>> skinnedWindows_;
};
