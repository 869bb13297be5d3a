#include <functional>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

// The README's layout table is the one statement of which folder may include
// which; this test holds every source of the tree (products, tests,
// benchmarks, tools) to it. A folder's row lists the folders it may include;
// a row for a folder that is not in the tree is allowed.
namespace {

using Layers = QHash<QString, QSet<QString>>;

const QRegularExpression kFolderName(QStringLiteral("`([a-z_]+)/`"));
const QRegularExpression kInclude(QStringLiteral(R"re(^\s*#\s*include\s*"([^"]+)")re"),
                                  QRegularExpression::MultilineOption);

QSet<QString> foldersIn(const QString &cell)
{
    QSet<QString> folders;
    for (auto it = kFolderName.globalMatch(cell); it.hasNext();)
        folders.insert(it.next().captured(1));
    return folders;
}

// The "## Layout" section's table: | folders | what | may include |.
Layers parseLayoutTable(const QString &readme)
{
    Layers layers;
    const qsizetype start = readme.indexOf(QLatin1String("\n## Layout\n"));
    if (start < 0)
        return layers;
    const qsizetype end = readme.indexOf(QLatin1String("\n## "), start + 1);
    const QStringList lines = readme.mid(start, end < 0 ? -1 : end - start).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList cells = line.split(QLatin1Char('|'));
        if (!line.startsWith(QLatin1Char('|')) || cells.size() < 5)
            continue;
        const QSet<QString> allowed = foldersIn(cells.at(3));
        for (const QString &folder : foldersIn(cells.at(1)))
            layers[folder] += allowed;
    }
    return layers;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool isSource(const QString &name)
{
    return name.endsWith(QLatin1String(".h")) || name.endsWith(QLatin1String(".hpp"))
        || name.endsWith(QLatin1String(".cpp"));
}

// Root-relative paths of every source, build trees and hidden folders left out.
QStringList sourcesUnder(const QString &root)
{
    QStringList sources;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(root).relativeFilePath(it.next());
        const QString top = relative.section(QLatin1Char('/'), 0, 0);
        if (relative.contains(QLatin1Char('/')) && !top.startsWith(QLatin1String("build"))
            && !relative.contains(QLatin1String("/.")) && !top.startsWith(QLatin1Char('.')) && isSource(relative))
            sources << relative;
    }
    return sources;
}

// One sentence per include that breaks the table: a bare name of a project
// header, or a folder the including folder may not use.
QStringList violations(const QString &root, const Layers &layers, const QString &folder)
{
    const QStringList sources = sourcesUnder(root);
    QSet<QString> headerNames;
    for (const QString &source : sources)
        headerNames.insert(source.section(QLatin1Char('/'), -1));
    QStringList found;
    if (!layers.contains(folder))
        found << folder + QLatin1String("/ has no row in the layout table");
    for (const QString &source : sources) {
        if (source.section(QLatin1Char('/'), 0, 0) != folder)
            continue;
        for (auto it = kInclude.globalMatch(readText(root + QLatin1Char('/') + source)); it.hasNext();) {
            const QString include = it.next().captured(1);
            const QString target = include.section(QLatin1Char('/'), 0, 0);
            if (!include.contains(QLatin1Char('/'))) {
                if (headerNames.contains(include))
                    found << source + QLatin1String(": \"") + include + QLatin1String("\" names no folder");
            } else if (target != folder && QFileInfo::exists(root + QLatin1Char('/') + include)
                       && !layers.value(folder).contains(target)) {
                found << source + QLatin1String(": ") + folder + QLatin1String("/ may not include ") + include;
            }
        }
    }
    return found;
}

// The folders on a cycle of the table's graph, empty when there is none.
QStringList cycleIn(const Layers &layers)
{
    QHash<QString, int> state; // 1: on the current path, 2: done
    QStringList path;
    std::function<bool(const QString &)> visit = [&](const QString &folder) {
        if (state.value(folder) == 2)
            return false;
        path << folder;
        if (state.value(folder) == 1)
            return true;
        state[folder] = 1;
        for (const QString &next : layers.value(folder))
            if (next != folder && visit(next))
                return true;
        state[folder] = 2;
        path.removeLast();
        return false;
    };
    for (auto it = layers.cbegin(); it != layers.cend(); ++it)
        if (visit(it.key()))
            return path;
    return {};
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestLayering : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void includesFollowTheTable_data();
    void includesFollowTheTable();
    void tableHasNoCycle();
    void foldersCompileOnlyTheirOwnSources_data();
    void foldersCompileOnlyTheirOwnSources();
    void checkerRejects_data();
    void checkerRejects();

private:
    QString m_root = QStringLiteral(TESSIVO_SOURCE_DIR);
    Layers m_layers;
};

void TestLayering::initTestCase()
{
    m_layers = parseLayoutTable(readText(m_root + QLatin1String("/README.md")));
    QVERIFY2(m_layers.size() > 10, "the README's layout table was not found");
}

void TestLayering::includesFollowTheTable_data()
{
    QTest::addColumn<QString>("folder");
    QSet<QString> folders;
    for (const QString &source : sourcesUnder(m_root))
        folders.insert(source.section(QLatin1Char('/'), 0, 0));
    for (const QString &folder : folders)
        QTest::newRow(qPrintable(folder)) << folder;
}

void TestLayering::includesFollowTheTable()
{
    QFETCH(QString, folder);
    const QStringList found = violations(m_root, m_layers, folder);
    QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
}

void TestLayering::tableHasNoCycle()
{
    const QStringList cycle = cycleIn(m_layers);
    QVERIFY2(cycle.isEmpty(), qPrintable(cycle.join(QLatin1String(" -> "))));
}

void TestLayering::foldersCompileOnlyTheirOwnSources_data()
{
    QTest::addColumn<QString>("folder");
    for (auto it = m_layers.cbegin(); it != m_layers.cend(); ++it)
        if (QFile::exists(m_root + QLatin1Char('/') + it.key() + QLatin1String("/CMakeLists.txt")))
            QTest::newRow(qPrintable(it.key())) << it.key();
}

void TestLayering::foldersCompileOnlyTheirOwnSources()
{
    QFETCH(QString, folder);
    // A source named through the project root or a parent folder belongs to
    // another folder's target.
    static const QRegularExpression foreign(QStringLiteral(R"((\$\{PROJECT_SOURCE_DIR\}|\.\.)/\S*\.cpp)"));
    const QString cmake = readText(m_root + QLatin1Char('/') + folder + QLatin1String("/CMakeLists.txt"));
    const auto match = foreign.match(cmake);
    QVERIFY2(!match.hasMatch(), qPrintable(folder + QLatin1String("/ compiles ") + match.captured(0)));
}

void TestLayering::checkerRejects_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("expected");
    QTest::newRow("upward include") << QByteArray("#include \"high/High.h\"\n") << "low/ may not include high/High.h";
    QTest::newRow("bare project include") << QByteArray("#include \"High.h\"\n") << "\"High.h\" names no folder";
    QTest::newRow("folder without row") << QByteArray("#include <vector>\n") << "odd/ has no row";
}

void TestLayering::checkerRejects()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, expected);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    writeFile(tree.filePath(QStringLiteral("high/High.h")), "#include \"low/Low.h\"\n");
    writeFile(tree.filePath(QStringLiteral("low/Low.h")), source);
    writeFile(tree.filePath(QStringLiteral("odd/Odd.h")), source);
    const Layers layers = parseLayoutTable(QStringLiteral("\n## Layout\n\n| Folder | What | May include |\n|---|---|---|\n"
                                                          "| `high/` | top | `low/` |\n| `low/` | bottom | — |\n"
                                                          "| `gone/` | absent | `low/` |\n"));
    QVERIFY(violations(tree.path(), layers, QStringLiteral("high")).isEmpty());
    const QString folder = expected.startsWith(QLatin1String("odd")) ? QStringLiteral("odd") : QStringLiteral("low");
    const QString found = violations(tree.path(), layers, folder).join(QLatin1Char('\n'));
    QVERIFY2(found.contains(expected), qPrintable(found));
    QCOMPARE(cycleIn(layers), QStringList());
    Layers looped = layers;
    looped[QStringLiteral("low")] << QStringLiteral("high");
    QVERIFY(!cycleIn(looped).isEmpty());
}

QTEST_GUILESS_MAIN(TestLayering)
#include "tst_layering.moc"
