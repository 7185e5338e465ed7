#pragma once

#include <QString>

// What the system says of a file, as Linux tools say it: "PATH: No such file or directory".
// Empty when there is nothing to say.
QString readProblem(const QString& path);
// For a file a read is to replace: its folder must take a new file beside it.
QString writeProblem(const QString& path);
