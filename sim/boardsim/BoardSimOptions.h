#pragma once

#include "sim/BoardConfig.h"

#include <QString>
#include <QStringList>

struct BoardSimOptions {
    BoardConfig board;
    QString spiImage;
    QString bpiImage;
    QString link;
    bool verbose = false;
};

// Reads the command line; on a mistake prints it with the usage and exits with status 2.
BoardSimOptions parseBoardSimOptions(const QStringList& arguments);
