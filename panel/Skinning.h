#pragma once

#include <QString>

// The window-skinning library as the program calls it. Skin files are style sheets.
class Skinning {
public:
    virtual ~Skinning() = default;
    // kind 2 applies the skin file at path; kind 0 with an empty path returns to the plain look.
    // True when the skin was started.
    virtual bool skinStart(const QString& path, int kind) = 0;
    // Applies the skin again to the window that holds the named control.
    virtual void skinWindowSetEx(const QString& controlName, const QString& path) = 0;
    virtual void skinRemove() = 0;
};

// No skinning library: nothing is ever started.
class NoSkinning : public Skinning {
public:
    bool skinStart(const QString&, int) override { return false; }
    void skinWindowSetEx(const QString&, const QString&) override {}
    void skinRemove() override {}
};
