#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace quavera {

namespace {

constexpr int kUsageExitCode = 2; // the usual code of a refused command line

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

CommandLineRequest ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Cuts a piece out of an MP3 file to make a ringtone."));
    // Not addHelpOption: its --help-all lists Qt's own options, which are read from the
    // environment here (QT_QPA_PLATFORM and the like), since the line is read before Qt starts.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The MP3 file to load, as if chosen with 浏览."),
                                 QStringLiteral("[FILE]"));

    // The help text names the program by the name it was started with.
    QString usage = parser.helpText();
    if (!arguments.isEmpty()) {
        usage.replace(QStringLiteral("<executable_name>"), arguments.constFirst());
    }
    const QString program = QCoreApplication::applicationName().toLower();
    if (!parser.parse(arguments) || parser.positionalArguments().size() > 1) {
        const QString reason = parser.errorText().isEmpty()
                                   ? QStringLiteral("Only one file can be loaded.")
                                   : parser.errorText();
        Print(stderr, program + QStringLiteral(": ") + reason + QLatin1Char('\n') + usage);
        return {kUsageExitCode, {}};
    }
    if (parser.isSet(help)) {
        Print(stdout, usage);
        return {0, {}};
    }
    if (parser.isSet(version)) {
        Print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                          QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return {0, {}};
    }
    CommandLineRequest request;
    if (!parser.positionalArguments().isEmpty() &&
        !parser.positionalArguments().constFirst().isEmpty()) {
        // The destination defaults to the file's folder: a path relative to the working folder
        // would leave none.
        request.file = QDir::cleanPath(
            QDir::current().absoluteFilePath(parser.positionalArguments().constFirst()));
    }
    return request;
}

} // namespace quavera
