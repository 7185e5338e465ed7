#pragma once

#include <QString>
#include <exception>

// A run-time failure: a number in the classic BASIC numbering and a one-line description.
// Conversions and file operations throw it; each handler and sequence step catches it.
class RuntimeError : public std::exception {
public:
    RuntimeError(int number, QString description)
        : number_(number)
        , description_(std::move(description)) {}

    int number() const { return number_; }
    const QString& description() const { return description_; }
    const char* what() const noexcept override { return "runtime error"; }

    static constexpr int Overflow = 6;
    static constexpr int SubscriptOutOfRange = 9;
    static constexpr int TypeMismatch = 13;
    static constexpr int BadFileNameOrNumber = 52;
    static constexpr int FileNotFound = 53;
    static constexpr int DeviceIoError = 57;
    static constexpr int InputPastEnd = 62;
    static constexpr int DeviceUnavailable = 68;
    static constexpr int PermissionDenied = 70;
    static constexpr int PathFileAccessError = 75;
    static constexpr int PortNotOpen = 8018;
    static constexpr int PortOpenFailed = 8002;
    static constexpr int PortInUse = 8005;

private:
    int number_;
    QString description_;
};
