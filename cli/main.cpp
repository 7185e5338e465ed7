#include "cli/CliRunner.h"
#include "cli/Interrupts.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const auto options = CliOptions::parse(app.arguments().mid(1), error);
    if (!options) {
        std::fprintf(stderr, "zbpu-cli: %s\n%s", qPrintable(error), CliUsage);
        return CliRunner::Usage;
    }
    catchInterrupts();
    return CliRunner(*options).run();
}
