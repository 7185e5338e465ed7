#include "cli/CliRunner.h"
#include "cli/Interrupts.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const auto chain = CliOptions::parseChain(app.arguments().mid(1), error);
    if (!chain) {
        std::fprintf(stderr, "zbpu-cli: %s\n%s\n", qPrintable(error), CliTryHelp);
        return CliRunner::Usage;
    }
    const CliOptions& first = chain->first();
    if (first.help) {
        std::fputs(CliUsage, stdout);
        return 0;
    }
    if (first.version) {
        std::printf("zbpu-cli %s\n", ZBPU_VERSION);
        return 0;
    }
    catchInterrupts();
    return CliRunner(*chain).run();
}
