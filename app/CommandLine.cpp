#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QUrl>
#include <array>
#include <cstdio>

namespace quavera {

namespace {

constexpr int kUsageExitCode = 2; // the usual code of a refused command line

struct QtOption {
    const char* name;
    bool takesValue;
};

// The options QGuiApplication and QApplication take out of the arguments. Qt offers no way to
// ask for them without an application object, which needs a display even for --help, so the
// list is ours; each may also be written with two dashes, and the valued ones as name=value.
constexpr std::array<QtOption, 17> kQtOptions{{{"platform", true},
                                               {"platformpluginpath", true},
                                               {"platformtheme", true},
                                               {"plugin", true},
                                               {"qwindowgeometry", true},
                                               {"qwindowicon", true},
                                               {"qwindowtitle", true},
                                               {"session", true},
                                               {"display", true},
                                               {"geometry", true},
                                               {"style", true},
                                               {"stylesheet", true},
                                               {"qmljsdebugger", true},
                                               {"reverse", false},
                                               {"widgetcount", false},
                                               {"nograb", false},
                                               {"dograb", false}}};

// How many arguments from `index` on are one of Qt's options: 0, 1, or 2 with its value.
int QtOptionLength(const QStringList& arguments, qsizetype index) {
    QString argument = arguments.at(index);
    if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-") ||
        argument == QLatin1String("--")) {
        return 0;
    }
    argument.remove(0, argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? argument : argument.left(equals);
    for (const QtOption& option : kQtOptions) {
        if (name != QLatin1String(option.name)) {
            continue;
        }
        if (equals >= 0) {
            return option.takesValue ? 1 : 0;
        }
        return option.takesValue && index + 1 < arguments.size() ? 2 : 1;
    }
    return 0;
}

// The arguments without Qt's options, which QApplication reads for itself.
QStringList WithoutQtOptions(const QStringList& arguments) {
    QStringList ours;
    for (qsizetype index = 0; index < arguments.size();) {
        if (arguments.at(index) == QLatin1String("--")) {
            ours += arguments.mid(index); // after "--" everything is a file
            break;
        }
        const int length = index == 0 ? 0 : QtOptionLength(arguments, index);
        if (length == 0) {
            ours.append(arguments.at(index));
        }
        index += length == 0 ? 1 : length;
    }
    return ours;
}

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// A file:// address (what some file managers and browsers pass) is the file it names; an
// address of another kind is no file at all.
bool IsAddress(const QString& argument) {
    const QUrl url(argument, QUrl::StrictMode);
    return url.isValid() && url.scheme().size() > 1 &&
           (argument.contains(QLatin1String("://")) || url.scheme() == QLatin1String("file"));
}

// A file:// address of this machine; one naming another host is no local file.
bool IsLocalFileAddress(const QUrl& url) {
    return url.isLocalFile() && (url.host().isEmpty() || url.host() == QLatin1String("localhost"));
}

} // namespace

CommandLineRequest ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // "-style" is one unknown option to be named as such, not the letters s, t, y, l and e.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Cuts a piece out of an MP3 file to make a ringtone.\n"
                       "Qt's own options (-style, -platform, -reverse, -qwindowgeometry, "
                       "-display, -session...) are taken as well."));
    // Not addHelpOption: its --help-all would need Qt's own parser, which needs a display.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("The MP3 file to load, as if chosen with 浏览 (a path or a file:// URL)."),
        QStringLiteral("[FILE]"));

    // The help text names the program by the name it was started with.
    QString usage = parser.helpText();
    if (!arguments.isEmpty()) {
        usage.replace(QStringLiteral("<executable_name>"), arguments.constFirst());
    }
    const QString program = QCoreApplication::applicationName().toLower();
    if (!parser.parse(WithoutQtOptions(arguments)) || parser.positionalArguments().size() > 1) {
        const QString reason = parser.errorText().isEmpty()
                                   ? QStringLiteral("Only one file can be loaded.")
                                   : parser.errorText();
        Print(stderr, program + QStringLiteral(": ") + reason + QLatin1Char('\n') + usage);
        return {kUsageExitCode, {}, {}};
    }
    if (parser.isSet(help)) {
        Print(stdout, usage);
        return {0, {}, {}};
    }
    if (parser.isSet(version)) {
        Print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                          QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return {0, {}, {}};
    }
    CommandLineRequest request;
    QString given = parser.positionalArguments().value(0);
    if (IsAddress(given)) {
        const QUrl url(given);
        if (!IsLocalFileAddress(url)) {
            request.remoteAddress = given;
            return request;
        }
        given = url.path(QUrl::FullyDecoded); // percent-decoded, without the host
    }
    if (!given.isEmpty()) {
        // The destination defaults to the file's folder: a path relative to the working folder
        // would leave none.
        request.file = QDir::cleanPath(QDir::current().absoluteFilePath(given));
    }
    return request;
}

} // namespace quavera
