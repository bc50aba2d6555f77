#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

namespace {

const char* const kSeparators = "|^~][ and blank";

bool readPort(const QString& text, int lowest, int& port) {
    bool isNumber = false;
    const int value = text.toInt(&isNumber);
    if (!isNumber || value < lowest || value > 65535) return false;
    port = value;
    return true;
}

std::string quoted(const QString& text) { return "'" + text.toStdString() + "'"; }

}  // namespace

std::string passwordProblem(const std::string& password) {
    if (LoginEntries{"agent", password, "", ""}.valid()) return {};
    return std::string("the password is not valid: at most 18 characters, none of ") + kSeparators;
}

std::string usageText() {
    return "usage: orvane [--headless] [--agent ID] [--cti HOST[:PORT]] [--password-stdin]\n"
           "              [--client-port N] [--iax-port N]\n"
           "       orvane --dump-transitions | --version | --help\n"
           "\n"
           "Orvane is the call-centre agent's phone. Without options it opens the agent's bar and its\n"
           "login dialog.\n"
           "\n"
           "  --headless          run without a window: print what the agent sees as it changes and take\n"
           "                      the agent's commands on standard input (type 'help' there)\n"
           "  --agent ID          the agent to log in at start\n"
           "  --cti HOST[:PORT]   the CTI server to log in to at start (the stored port when none is given)\n"
           "  --password PW       the agent's password; visible to every user of the computer in the\n"
           "                      process list, so prefer ORVANE_PASSWORD or --password-stdin\n"
           "  --password-stdin    read the password from the first line of standard input\n"
           "  --client-port N     the port the agent's web applet connects to (8767)\n"
           "  --iax-port N        the voice port (4569; 0 for any free port)\n"
           "  --dump-transitions  print the agent state machine's transitions and exit\n"
           "  --version           print the program's version and exit\n"
           "  --help              print this text and exit\n"
           "\n"
           "Environment: ORVANE_PASSWORD (the password, when no option gives it), ORVANE_AUDIO=virtual\n"
           "(files instead of sound devices), ORVANE_TIME_SCALE (shorter waits, for tests).\n"
           "Fields not given come from the settings stored at the last login. Exit status: 0 after a\n"
           "clean close, 1 when the phone cannot do its job (login refused, server unreachable, another\n"
           "copy running), 2 for a bad command line or no display.\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments,
                             const std::optional<std::string>& environmentPassword) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption dump(QStringLiteral("dump-transitions"));
    const QCommandLineOption agent(QStringLiteral("agent"), {}, QStringLiteral("ID"));
    const QCommandLineOption password(QStringLiteral("password"), {}, QStringLiteral("PW"));
    const QCommandLineOption passwordInput(QStringLiteral("password-stdin"));
    const QCommandLineOption cti(QStringLiteral("cti"), {}, QStringLiteral("HOST:PORT"));
    const QCommandLineOption clientPort(QStringLiteral("client-port"), {}, QStringLiteral("N"));
    const QCommandLineOption iaxPort(QStringLiteral("iax-port"), {}, QStringLiteral("N"));
    parser.addOptions({help, version, headless, dump, agent, password, passwordInput, cti, clientPort, iaxPort});

    QStringList texts{QStringLiteral("orvane")};
    for (const std::string& argument : arguments) texts << QString::fromStdString(argument);
    CommandLine result;
    if (!parser.parse(texts)) {
        result.error = parser.errorText().toStdString();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = "unexpected argument " + quoted(parser.positionalArguments().first());
        return result;
    }

    ProgramOptions options;
    if (parser.isSet(help)) {
        options.mode = ProgramOptions::Mode::Help;
    } else if (parser.isSet(version)) {
        options.mode = ProgramOptions::Mode::Version;
    } else if (parser.isSet(dump)) {
        options.mode = ProgramOptions::Mode::DumpTransitions;
    } else if (parser.isSet(headless)) {
        options.mode = ProgramOptions::Mode::Headless;
    }

    if (parser.isSet(agent)) {
        options.login.agentId = parser.value(agent).toStdString();
        if (options.login.agentId.empty()) {
            result.error = "the agent ID given with --agent is empty";
            return result;
        }
        LoginEntries check{options.login.agentId, "", "", ""};
        if (!check.valid()) {
            result.error = "the agent ID " + quoted(parser.value(agent)) + " is not valid: 3 to 18 characters, none of " +
                           kSeparators;
            return result;
        }
    }
    if (parser.isSet(password) && parser.isSet(passwordInput)) {
        result.error = "--password and --password-stdin both give the password";
        return result;
    }
    if (parser.isSet(password))
        options.login.password = parser.value(password).toStdString();
    else if (!parser.isSet(passwordInput) && environmentPassword)
        options.login.password = *environmentPassword;
    options.passwordFromInput = parser.isSet(passwordInput);
    result.error = passwordProblem(options.login.password);
    if (!result.error.empty()) return result;
    if (parser.isSet(cti)) {
        const QString value = parser.value(cti);
        const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
        const QString host = (colon < 0 ? value : value.left(colon)).trimmed();
        if (host.isEmpty()) {
            result.error = "--cti " + quoted(value) + " names no host";
            return result;
        }
        options.login.host = host.toStdString();
        int port = 0;
        if (colon >= 0) {
            if (!readPort(value.mid(colon + 1), 1, port)) {
                result.error = "--cti " + quoted(value) + ": the port must be a number from 1 to 65535";
                return result;
            }
            options.login.port = std::to_string(port);
        }
    }
    if (parser.isSet(clientPort) && !readPort(parser.value(clientPort), 1, options.clientPort)) {
        result.error = "--client-port must be a number from 1 to 65535";
        return result;
    }
    if (parser.isSet(iaxPort) && !readPort(parser.value(iaxPort), 0, options.iaxPort)) {
        result.error = "--iax-port must be a number from 0 to 65535";
        return result;
    }
    options.loginAtStart = parser.isSet(agent) || parser.isSet(cti) || parser.isSet(password) ||
                           parser.isSet(passwordInput) || options.mode == ProgramOptions::Mode::Headless;
    result.options = options;
    return result;
}
