#include <QProcess>
#include <QtTest>

#include <csignal>
#include <vector>

#include "app/options.h"

// What a command line comes to, in one line: the error, "help", "version",
// or the source ("camera", "demo", "file:NAME"), with any file name kept.
static QString outcome(const QByteArrayList& Args)
{
    std::vector<const char*> argv{"quorl-eye"};
    for (const QByteArray& a : Args)
        argv.push_back(a.constData());
    const ParsedOptions parsed = parseOptions(int(argv.size()), argv.data());
    const Options& o = parsed.options;
    if (!parsed.error.empty())
        return QString::fromStdString(parsed.error);
    if (o.help || o.version)
        return o.help ? "help" : "version";
    const QString kind = o.kind == Options::Camera ? "camera"
        : o.kind == Options::PipeWire              ? "pipewire"
        : o.kind == Options::V4l2                  ? "v4l2"
        : o.kind == Options::Demo                  ? "demo"
                                                   : "file";
    const QString stats = o.stats ? " +stats" : "";
    return (o.file.empty() ? kind : kind + ":" + QString::fromStdString(o.file)) + stats;
}

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArrayList>("args");
        QTest::addColumn<QString>("expected");
        auto error = [](const QString& What) { return "quorl-eye: " + What + " (see --help)"; };
        const QString missing = error("option '--source' needs a value: camera, pipewire, v4l2, demo or a video file");
        QTest::newRow("nothing: the cameras") << QByteArrayList{} << "camera";
        QTest::newRow("demo") << QByteArrayList{"--source", "demo"} << "demo";
        QTest::newRow("pipewire") << QByteArrayList{"--source", "pipewire"} << "pipewire";
        QTest::newRow("v4l2, with =") << QByteArrayList{"--source=v4l2"} << "v4l2";
        QTest::newRow("= and a blank") << QByteArrayList{"--source=/tmp/my clip.mkv"} << "file:/tmp/my clip.mkv";
        QTest::newRow("file named like an option") << QByteArrayList{"--source", "./-odd.mp4"} << "file:./-odd.mp4";
        QTest::newRow("demo.mp4 is a file") << QByteArrayList{"--source", "demo.mp4"} << "file:demo.mp4";
        QTest::newRow("the last source wins") << QByteArrayList{"--source", "a.mp4", "--source", "camera"} << "camera";
        QTest::newRow("--stats") << QByteArrayList{"--stats"} << "camera +stats";
        QTest::newRow("--stats after a source") << QByteArrayList{"--source", "demo", "--stats"} << "demo +stats";
        QTest::newRow("--stats takes no value") << QByteArrayList{"--stats=1"} << error("unknown option '--stats=1'");
        QTest::newRow("--stats is no source") << QByteArrayList{"--source", "--stats"} << missing;
        QTest::newRow("--help") << QByteArrayList{"--help"} << "help";
        QTest::newRow("-h") << QByteArrayList{"-h"} << "help";
        QTest::newRow("--version") << QByteArrayList{"--version"} << "version";
        QTest::newRow("help ends the parsing") << QByteArrayList{"--help", "--foo"} << "help";
        QTest::newRow("unknown option") << QByteArrayList{"--foo"} << error("unknown option '--foo'");
        QTest::newRow("case-sensitive") << QByteArrayList{"--Source", "demo"} << error("unknown option '--Source'");
        QTest::newRow("error comes late") << QByteArrayList{"--source", "demo", "-x"} << error("unknown option '-x'");
        QTest::newRow("stray argument") << QByteArrayList{"clip.mp4"} << error("unexpected argument 'clip.mp4'");
        QTest::newRow("value missing at the end") << QByteArrayList{"--source"} << missing;
        QTest::newRow("value missing before an option") << QByteArrayList{"--source", "-h"} << missing;
        QTest::newRow("empty value with =") << QByteArrayList{"--source="} << missing;
    }

    void parse()
    {
        QFETCH(QByteArrayList, args);
        QFETCH(QString, expected);
        QCOMPARE(outcome(args), expected);
    }

    void helpNamesEveryOption()
    {
        const QString help = QString::fromStdString(helpText());
        for (const char* word : {"--source camera", "--source pipewire", "--source v4l2", "--source demo",
                                 "--source FILE", "--stats", "-h, --help", "--version"})
            QVERIFY2(help.contains(word), word);
        QVERIFY(help.endsWith('\n'));
    }

    // Every option of --help is in the man page's OPTIONS too.
    void manPageNamesEveryOption()
    {
        QFile man(QUORL_EYE_MAN_PAGE);
        QVERIFY(man.open(QIODevice::ReadOnly));
        QString page = QString::fromUtf8(man.readAll()).section(".SH OPTIONS\n", 1).section("\n.SH ", 0, 0);
        // The words as man shows them: no escaped dashes, font macros or quotes.
        page.replace("\\-", "-").remove('"');
        page.remove(QRegularExpression("^\\.[A-Z]+ ", QRegularExpression::MultilineOption));
        page.replace(QRegularExpression("\\s+"), " ");
        // "  --source demo     two built-in ..." and "  -h, --help   show ...".
        const QRegularExpression optionLine("^  (-\\S.*?)(  |$)", QRegularExpression::MultilineOption);
        int options = 0;
        for (const auto& line : optionLine.globalMatch(QString::fromStdString(helpText())))
            for (const QString& option : line.captured(1).split(", ")) {
                QVERIFY2(page.contains(option), qPrintable(option));
                ++options;
            }
        QVERIFY(options >= 5);
    }

    // Whether the window can open: the displays the environment names, and
    // which of them answer.
    void noDisplay_data()
    {
        QTest::addColumn<QByteArrayList>("env");  // QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY; "-": unset
        QTest::addColumn<QStringList>("answering");  // "x:NAME", "w:NAME"
        QTest::addColumn<QString>("expected");  // after "quorl-eye: no display to open the window on (", or ""
        const QStringList none;
        const QString neither = "neither DISPLAY nor WAYLAND_DISPLAY is set)";
        QTest::newRow("none") << QByteArrayList{"-", "-", "-"} << none << neither;
        QTest::newRow("all empty") << QByteArrayList{"", "", ""} << QStringList{"x:", "w:"} << neither;
        QTest::newRow("X11") << QByteArrayList{"-", ":0", "-"} << QStringList{"x::0"} << "";
        QTest::newRow("X11 not there") << QByteArrayList{"-", ":5", "-"} << QStringList{"x::0", "w::5"}
                                       << "DISPLAY ':5' does not answer)";
        QTest::newRow("Wayland not there") << QByteArrayList{"-", "", "wayland-1"} << QStringList{"w:wayland-0"}
                                           << "WAYLAND_DISPLAY 'wayland-1' does not answer)";
        QTest::newRow("neither answers") << QByteArrayList{"-", "host:10.0", "/run/w"} << none
                                         << "neither DISPLAY 'host:10.0' nor WAYLAND_DISPLAY '/run/w' answers)";
        QTest::newRow("dead X11, live Wayland") << QByteArrayList{"-", ":5", "wayland-0"} << QStringList{"w:wayland-0"} << "";
        QTest::newRow("offscreen") << QByteArrayList{"offscreen", "-", "-"} << none << "";
        QTest::newRow("eglfs in a list") << QByteArrayList{"xcb;eglfs", ":5", "-"} << none << "";
        QTest::newRow("xcb needs X11") << QByteArrayList{"xcb:no_grab_server", ":5", "wayland-0"} << QStringList{"w:wayland-0"}
                                       << "DISPLAY ':5' does not answer)";
        QTest::newRow("xcb, no DISPLAY") << QByteArrayList{"xcb", "-", "wayland-0"} << none << "DISPLAY is not set)";
        QTest::newRow("wayland defaults to wayland-0") << QByteArrayList{"wayland", ":0", "-"} << QStringList{"x::0"}
                                                       << "WAYLAND_DISPLAY 'wayland-0' does not answer)";
        QTest::newRow("either of a list") << QByteArrayList{"wayland-egl;xcb", ":0", "-"} << QStringList{"x::0"} << "";
        QTest::newRow("a line break in the name") << QByteArrayList{"-", ":0\n", "-"} << none
                                                  << "DISPLAY ':0\\n' does not answer)";
    }

    void noDisplay()
    {
        QFETCH(QByteArrayList, env);
        QFETCH(QStringList, answering);
        QFETCH(QString, expected);
        auto value = [&](int i) { return env[i] == "-" ? nullptr : env[i].constData(); };
        auto answers = [&](DisplayKind Kind, const std::string& Name) {
            return answering.contains((Kind == DisplayKind::X11 ? "x:" : "w:") + QString::fromStdString(Name));
        };
        const QString line = QString::fromStdString(noDisplayMessage(value(0), value(1), value(2), answers));
        QCOMPARE(line, expected.isEmpty() ? "" : "quorl-eye: no display to open the window on (" + expected);
    }

    // How the real program ends from outside (under the offscreen platform,
    // where its window shows nowhere): a signal once its window is up, a
    // display that does not answer before any.
    void programEnds_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("display");  // set for the run, under the xcb platform
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("SIGINT: 128 + 2") << SIGINT << "" << 130 << "stats: delivered 0";
        QTest::newRow("SIGTERM: 128 + 15") << SIGTERM << "" << 143 << "stats: delivered 0";
        // Nothing listens on X display 7357.
        QTest::newRow("DISPLAY names no display") << 0 << ":7357" << 2
                                                  << "quorl-eye: no display to open the window on (DISPLAY ':7357' does not answer)";
    }

    void programEnds()
    {
        QFETCH(int, signal);
        QFETCH(QString, display);
        QFETCH(QString, lastLine);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        env.insert("DISPLAY", display);
        program.setProcessEnvironment(env);
        // As from an interactive shell, whatever this test inherited.
        program.setChildProcessModifier([] {
            std::signal(SIGINT, SIG_DFL);
            std::signal(SIGTERM, SIG_DFL);
        });
        program.setReadChannel(QProcess::StandardError);
        program.start(QUORL_EYE_PROGRAM, {"--source", "demo", "--stats"});
        QByteArray err;
        if (signal) {
            // The first --stats line comes once the window's event loop runs.
            while (!err.contains("stats: ") && program.waitForReadyRead(20'000))
                err += program.readAllStandardError();
            QVERIFY2(err.contains("stats: "), err.constData());
            QCOMPARE(kill(pid_t(program.processId()), signal), 0);
        }
        QVERIFY2(program.waitForFinished(20'000), "still running");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QTEST(program.exitCode(), "code");
        const QList<QByteArray> lines = (err + program.readAllStandardError()).trimmed().split('\n');
        QVERIFY2(lines.last().startsWith(lastLine.toUtf8()), lines.last().constData());
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
