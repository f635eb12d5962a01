#include <QtTest>

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
    const QString kind = o.kind == Options::Camera ? "camera" : o.kind == Options::Demo ? "demo" : "file";
    const QString stats = QString(o.publishCamera ? " +publish" : "") + (o.stats ? " +stats" : "");
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
        const QString missing = error("option '--source' needs a value: camera, demo or a video file");
        QTest::newRow("nothing: the cameras") << QByteArrayList{} << "camera";
        QTest::newRow("demo") << QByteArrayList{"--source", "demo"} << "demo";
        QTest::newRow("= and a blank") << QByteArrayList{"--source=/tmp/my clip.mkv"} << "file:/tmp/my clip.mkv";
        QTest::newRow("file named like an option") << QByteArrayList{"--source", "./-odd.mp4"} << "file:./-odd.mp4";
        QTest::newRow("demo.mp4 is a file") << QByteArrayList{"--source", "demo.mp4"} << "file:demo.mp4";
        QTest::newRow("the last source wins") << QByteArrayList{"--source", "a.mp4", "--source", "camera"} << "camera";
        QTest::newRow("--stats") << QByteArrayList{"--stats"} << "camera +stats";
        QTest::newRow("--stats after a source") << QByteArrayList{"--source", "demo", "--stats"} << "demo +stats";
        QTest::newRow("--stats takes no value") << QByteArrayList{"--stats=1"} << error("unknown option '--stats=1'");
        QTest::newRow("--publish-camera") << QByteArrayList{"--publish-camera", "--source", "demo", "--stats"}
                                          << "demo +publish +stats";
        QTest::newRow("--publish-camera takes no value")
            << QByteArrayList{"--publish-camera=yes"} << error("unknown option '--publish-camera=yes'");
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
        for (const char* word : {"--source camera", "--source demo", "--source FILE", "--publish-camera", "--stats", "-h, --help", "--version"})
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

    void noDisplay_data()
    {
        QTest::addColumn<QByteArrayList>("env");  // QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY; "-": unset
        QTest::addColumn<bool>("told");
        QTest::newRow("none") << QByteArrayList{"-", "-", "-"} << true;
        QTest::newRow("all empty") << QByteArrayList{"", "", ""} << true;
        QTest::newRow("X11") << QByteArrayList{"-", ":0", "-"} << false;
        QTest::newRow("Wayland") << QByteArrayList{"-", "", "wayland-0"} << false;
        QTest::newRow("offscreen") << QByteArrayList{"offscreen", "-", "-"} << false;
    }

    void noDisplay()
    {
        QFETCH(QByteArrayList, env);
        QFETCH(bool, told);
        auto value = [&](int i) { return env[i] == "-" ? nullptr : env[i].constData(); };
        const std::string line = noDisplayMessage(value(0), value(1), value(2));
        QCOMPARE(!line.empty(), told);
        QVERIFY(line.empty() || line.starts_with("quorl-eye: no display"));
    }
};

QTEST_APPLESS_MAIN(TestOptions)
#include "tst_options.moc"
