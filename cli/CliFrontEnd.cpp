#include "cli/CliFrontEnd.h"

#include "cli/SystemWords.h"

#include "cli/Terminal.h"
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

static QString oneLine(QString text) {
    text.replace("\r\n", "\n").replace("\n\r", "\n").replace('\r', '\n');
    return text;
}

QString cliWording(QString text) {
    text.replace("(Disconnect, then Options | Comm)", "(--port)");
    text.replace("(Options | Comm)", "(--port)");
    // The heading of the window's port-scan box: the reasons after it say more.
    static const QRegularExpression scan(R"(^No Com ports available\s*(?=\S))");
    text.remove(scan);
    if (text.trimmed() == "No Com ports available")
        text = "no serial ports";
    // The window's run-time error numbers mean nothing on a command line.
    static const QRegularExpression number(R"(^Error: \d+(\r\n|\n\r|\n|\r| ))");
    text.remove(number);
    // A file the window reports by its error number is said in the system's words.
    static const QRegularExpression file(R"((?:Path/File access error|File not found): (.+)$)",
                                         QRegularExpression::MultilineOption);
    if (const auto m = file.match(text); m.hasMatch()) {
        const QString path = m.captured(1).trimmed();
        const QString read = readProblem(path);
        const QString said = read.isEmpty() ? writeProblem(path) : read;
        if (!said.isEmpty())
            text.replace(m.capturedStart(), m.capturedLength(), said);
    }
    return text;
}

QString CliPrompter::spoken(const QString& title, const QString& text) const {
    QStringList lines = text.split('\n', Qt::SkipEmptyParts);
    if (title == "FATAL: Port Detect Error") {
        // Why each port could not be used, one line each.
        for (QString& line : lines)
            line = "zbpu-cli: " + line;
        return lines.join('\n');
    }
    if (title == "Application Error" && !lines.isEmpty())
        return "zbpu-cli: " + lines.join('\n');
    return title + ": " + text;
}

Prompter::Answer CliPrompter::ask(const QString& text, const QString& title, Icon icon,
                                  Buttons buttons) {
    const bool yesNo = buttons == Buttons::YesNo;
    const Answer accept = yesNo ? Answer::Yes : Answer::Ok;
    const Answer refuse = yesNo ? Answer::No : Answer::Cancel;
    titles << title;
    icons << icon;
    texts << cliWording(oneLine(text));
    if (buttons == Buttons::Ok || yes_ || !interactive_) {
        if (!(quietPortScan && title == "FATAL: Port Detect Error"))
            std::fprintf(stderr, "%s\n", qPrintable(spoken(title, texts.last())));
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        if (yes_)
            return accept;
        declined = true;
        std::fprintf(stderr, "zbpu-cli: answered %s; run with --yes to answer %s\n",
                     yesNo ? "No" : "Cancel", yesNo ? "Yes" : "OK");
        return refuse;
    }
    // On a line of its own: a progress line may be showing.
    std::fprintf(stderr, "\r\033[K%s: %s [y/N] ", qPrintable(title), qPrintable(texts.last()));
    std::fflush(stderr);
    char line[64] = {};
    const bool got = std::fgets(line, sizeof line, in_) != nullptr;
    const QString answer = QString::fromLocal8Bit(line).trimmed().toLower();
    if (!got)
        std::fputc('\n', stderr);
    if (answer == "y" || answer == "yes")
        return accept;
    declined = true;
    return refuse;
}

namespace {
QString amount(double bytes) {
    if (bytes < 1024)
        return QString("%1 B").arg(qint64(bytes));
    if (bytes < 1024 * 1024)
        return QString::number(bytes / 1024, 'f', 1) + " KiB";
    return QString::number(bytes / (1024 * 1024), 'f', 1) + " MiB";
}
QString clockTime(qint64 seconds) {
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}
} // namespace

QString progressLine(QString caption, int percent, qint64 totalBytes, qint64 elapsedMs,
                     double lineBytesPerSecond) {
    // The caption may carry its own percentage; the line shows one.
    caption.remove(QRegularExpression(R"(\s*\d+%\s*done\s*$)"));
    QString line = QString("%1 %2%").arg(caption.trimmed()).arg(percent, 3);
    if (totalBytes <= 0)
        return line + "  " + clockTime(elapsedMs / 1000);
    const double done = double(totalBytes) * percent / 100;
    line += "  " + amount(done) + " of " + amount(double(totalBytes));
    if (elapsedMs < 500 || done <= 0)
        return line + "  --  --:-- left";
    // Bytes buffered on the way make the first rates look faster than the line can carry.
    double rate = done * 1000 / double(elapsedMs);
    if (lineBytesPerSecond > 0)
        rate = std::min(rate, lineBytesPerSecond);
    const qint64 left = qint64((double(totalBytes) - done) / rate + 0.5);
    return line + "  " + amount(rate) + "/s  " + clockTime(left) + " left";
}

ConsoleEcho::ConsoleEcho(Control& console, Control& progress, Control& caption, Clock& clock,
                         std::FILE* out)
    : console_(console)
    , progress_(progress)
    , caption_(caption)
    , clock_(clock)
    , out_(out)
    , tty_(isTerminal(stderr)) {
    console_.watch([this] { consoleChanged(); });
    progress_.watch([this] { progressChanged(); });
}

void ConsoleEcho::statusChanged(const QString& text) {
    if (!text.startsWith("Stopping: ") && !text.startsWith("Finishing ")) {
        finishing_.clear();
        return;
    }
    const QString kind = text.section(", ", 0, -2);
    const int seconds = text.section(", ", -1).section(' ', 0, 0).toInt();
    if (tty_) {
        shown_ = text;
        std::fprintf(stderr, "\r\033[K%s", qPrintable(text));
        std::fflush(stderr);
        return;
    }
    if (kind == finishing_ && finishingSeconds_ - seconds < 10)
        return;
    finishing_ = kind;
    finishingSeconds_ = seconds;
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

void ConsoleEcho::begin(qint64 totalBytes, double lineBytesPerSecond) {
    total_ = totalBytes;
    lineRate_ = lineBytesPerSecond;
    startUs_ = clock_.nowUs();
    percentSeen_ = 0;
    lastLine_.clear();
    partial_.clear();
}

void ConsoleEcho::consoleChanged() {
    const QString& text = console_.text();
    QString fresh;
    if (console_.lastAppended() > 0) {
        fresh = text.right(console_.lastAppended());
    } else if (text.size() <= printed_) {
        // Cleared, or its oldest lines dropped off: nothing new to print.
        printed_ = text.size();
        return;
    } else {
        fresh = text.mid(printed_);
    }
    printed_ = text.size();
    fresh.remove('\r');
    // Lines may come in pieces: the last one counts once it is whole.
    partial_ += fresh;
    for (qsizetype end; (end = partial_.indexOf('\n')) >= 0; partial_.remove(0, end + 1))
        if (!partial_.left(end).trimmed().isEmpty())
            lastLine_ = partial_.left(end).trimmed();
    if (!shown_.isEmpty()) {
        std::fputs("\r\033[K", stderr);
        shown_.clear();
    }
    std::fputs(fresh.toLocal8Bit().constData(), out_);
    std::fflush(out_);
}

void ConsoleEcho::progressChanged() {
    const double max = progress_.maximum() > 0 ? progress_.maximum() : 100;
    const int pct = qBound(0, int(100.0 * progress_.value() / max), 100);
    if (progress_.visible())
        percentSeen_ = qMax(percentSeen_, pct);
    if (!tty_)
        return;
    if (!progress_.visible()) {
        if (!shown_.isEmpty())
            std::fputs("\r\033[K", stderr);
        shown_.clear();
        return;
    }
    const QString line =
        progressLine(caption_.text(), pct, total_, (clock_.nowUs() - startUs_) / 1000, lineRate_);
    if (line == shown_)
        return;
    shown_ = line;
    std::fprintf(stderr, "\r\033[K%s", qPrintable(line));
    std::fflush(stderr);
}
