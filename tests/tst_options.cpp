#include <QtTest>

#include <string>
#include <vector>

#include "app/options.h"

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void helpNamesEveryOption();
};

void TestOptions::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::addColumn<QString>("error");

    const int camera = Options::Camera, demo = Options::Demo, file = Options::File;
    const QString missing =
        "quorl-eye: option '--source' needs a value: camera, demo or a video file (see --help)";

    QTest::newRow("nothing: the cameras") << QStringList{} << camera << "" << false << false << "";
    QTest::newRow("camera") << QStringList{"--source", "camera"} << camera << "" << false << false << "";
    QTest::newRow("demo") << QStringList{"--source", "demo"} << demo << "" << false << false << "";
    QTest::newRow("demo with =") << QStringList{"--source=demo"} << demo << "" << false << false << "";
    QTest::newRow("file") << QStringList{"--source", "clip.mp4"} << file << "clip.mp4" << false << false << "";
    QTest::newRow("file with = and a blank")
        << QStringList{"--source=/tmp/my clip.mkv"} << file << "/tmp/my clip.mkv" << false << false << "";
    QTest::newRow("file named like an option, with ./")
        << QStringList{"--source", "./-odd.mp4"} << file << "./-odd.mp4" << false << false << "";
    QTest::newRow("file called demo.mp4 is a file")
        << QStringList{"--source", "demo.mp4"} << file << "demo.mp4" << false << false << "";
    QTest::newRow("the last source wins")
        << QStringList{"--source", "a.mp4", "--source", "camera"} << camera << "" << false << false << "";
    QTest::newRow("--help") << QStringList{"--help"} << camera << "" << true << false << "";
    QTest::newRow("-h") << QStringList{"-h"} << camera << "" << true << false << "";
    QTest::newRow("--version") << QStringList{"--version"} << camera << "" << false << true << "";
    QTest::newRow("help ends the parsing") << QStringList{"--help", "--foo"} << camera << "" << true << false << "";

    QTest::newRow("unknown option")
        << QStringList{"--foo"} << camera << "" << false << false << "quorl-eye: unknown option '--foo' (see --help)";
    QTest::newRow("unknown short option")
        << QStringList{"-x"} << camera << "" << false << false << "quorl-eye: unknown option '-x' (see --help)";
    QTest::newRow("options are case-sensitive")
        << QStringList{"--Source", "demo"} << camera << "" << false << false
        << "quorl-eye: unknown option '--Source' (see --help)";
    QTest::newRow("error after a good option")
        << QStringList{"--source", "demo", "--bar"} << demo << "" << false << false
        << "quorl-eye: unknown option '--bar' (see --help)";
    QTest::newRow("stray argument")
        << QStringList{"clip.mp4"} << camera << "" << false << false
        << "quorl-eye: unexpected argument 'clip.mp4' (see --help)";
    QTest::newRow("value missing at the end") << QStringList{"--source"} << camera << "" << false << false << missing;
    QTest::newRow("value missing before an option")
        << QStringList{"--source", "--help"} << camera << "" << false << false << missing;
    QTest::newRow("empty value with =") << QStringList{"--source="} << camera << "" << false << false << missing;
}

void TestOptions::parse()
{
    QFETCH(QStringList, args);
    QFETCH(int, kind);
    QFETCH(QString, file);
    QFETCH(bool, help);
    QFETCH(bool, version);
    QFETCH(QString, error);

    std::vector<std::string> storage{"quorl-eye"};
    for (const QString& a : args)
        storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const std::string& s : storage)
        argv.push_back(s.c_str());
    argv.push_back(nullptr);

    const ParsedOptions parsed = parseOptions(int(storage.size()), argv.data());
    QCOMPARE(QString::fromStdString(parsed.error), error);
    if (!error.isEmpty())
        return;
    QCOMPARE(int(parsed.options.kind), kind);
    QCOMPARE(QString::fromStdString(parsed.options.file), file);
    QCOMPARE(parsed.options.help, help);
    QCOMPARE(parsed.options.version, version);
}

void TestOptions::helpNamesEveryOption()
{
    const QString help = QString::fromStdString(helpText());
    for (const char* word : {"--source camera", "--source demo", "--source FILE", "-h, --help", "--version"})
        QVERIFY2(help.contains(word), word);
    QVERIFY(help.endsWith('\n'));
}

QTEST_APPLESS_MAIN(TestOptions)
#include "tst_options.moc"
