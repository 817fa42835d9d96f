#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include "app/startup.h"

namespace kestrune {

namespace {

constexpr char kProgramName[] = "kestrune";
constexpr char kDescription[] =
    "Finds a GPS receiver that speaks TSIP on a serial port, shows its port settings, output\n"
    "format and NMEA sentences, sets them up, and resets the receiver to factory settings.\n"
    "The port is the one named by the key Port in the settings file\n%1\n"
    "(in $XDG_CONFIG_HOME, else ~/.config), created with Port=COM3: on the first run.\n"
    "See kestrune(1).";

}  // namespace

void answerHelpOrVersion(int& argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    // The toolkit's options are single-dash words; read as words they stay unknown and ignored,
    // instead of being split into letters that could spell -h or -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(kDescription).arg(defaultPortStorePath()));
    // Not addHelpOption(): it also offers --help-all, which only a full parse can answer, and a
    // full parse refuses the toolkit's options.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on command line options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    // Unknown options are not an error here: the toolkit may still take them.
    (void)parser.parse(arguments);
    if (!parser.isSet(help) && !parser.isSet(version)) {
        return;
    }
    // Only now, since the process ends: the parser prints the name and usage line from it.
    QCoreApplication::setApplicationName(QString::fromLatin1(kProgramName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(KESTRUNE_VERSION));
    const QCoreApplication application(argc, argv);
    if (parser.isSet(help)) {
        parser.showHelp();
    }
    parser.showVersion();
}

}  // namespace kestrune
