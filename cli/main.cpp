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
    if (options->help) {
        std::fputs(CliUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("zbpu-cli %s\n", ZBPU_VERSION);
        return 0;
    }
    catchInterrupts();
    return CliRunner(*options).run();
}
