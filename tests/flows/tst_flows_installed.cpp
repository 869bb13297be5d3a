// Consoles side by side: each has a scratch folder of its own, and two
// consoles whose shipped files come from an installed, read-only tree each
// recognise the digit shown to them. TESSIVO_INSTALL_PREFIX names that tree
// (the install check sets it); without it the recognition case is skipped.
#include "tests/flows/FlowsTestSupport.h"

#include "app/DeviceConnection.h"
#include "app/MainWindow.h"
#include "app/RecognitionPage.h"
#include "context/ConsoleContext.h"
#include "context/ScratchFolder.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <memory>

namespace {

// One console on its own simulated device, showing one digit.
struct Console
{
    Console(const ConsolePaths &paths, int digit)
        : context(sim.backend, paths, SettingsIdentity(), sim.device, &sim.context().frameView())
    {
        sim.device->setScene(ZK128Device::Scene::FixedDigit);
        sim.device->setFixedDigit(digit);
        window = std::make_unique<MainWindow>(context);
        window->recognition().setEngine(&RecognitionEngine::detect);
        window->show();
    }

    template <typename T>
    T *find(const char *name) const
    {
        return FlowsTest::findWidget<T>(window.get(), name);
    }

    // Connect, 800 nA at 0 V, play, collect a template (each console writes
    // its own), then recognition without it.
    bool startRecognising()
    {
        const QDeadlineTimer listed(5000);
        while (find<QComboBox>("comboBox")->currentText() != QLatin1String("ZK128") && !listed.hasExpired())
            QTest::qWait(10);
        find<QPushButton>("pushButton_Connect")->click();
        if (!QTest::qWaitFor([this] { return !window->connection().isConnecting(); }, 5000))
            return false;
        find<QRadioButton>("radioButton_800")->setChecked(true);
        for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
            find<QLineEdit>(field)->setText(QStringLiteral("0"));
        find<QPushButton>("pushButton_set")->click();
        find<QPushButton>("pushButton_play")->click();
        if (!window->isCaptureRunning())
            return false;
        FlowsTest::buttonIn(window.get(), "widget_24", QStringLiteral("Collect Template"))->click();
        QPushButton *recognise = FlowsTest::buttonIn(window.get(), "widget_24", QStringLiteral("Offset Disable"));
        if (!recognise->isEnabled())
            return false;
        recognise->click();
        return true;
    }

    // The recognition page's "Result: ..." line.
    QString answer() const
    {
        for (QLabel *label : find<QWidget>("widget_24")->findChildren<QLabel *>()) {
            if (label->text().startsWith(QLatin1String("Result: ")))
                return label->text();
        }
        return QString();
    }

    FlowsTest::SimulatedDevice sim;
    ConsoleContext context;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class TestFlowsInstalled : public QObject
{
    Q_OBJECT

private slots:
    void scratchFoldersOfTwoConsoles();
    void recognitionFromInstalledTree();
};

void TestFlowsInstalled::scratchFoldersOfTwoConsoles()
{
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QString firstPath;
    {
        ScratchFolder first;
        ScratchFolder second;
        firstPath = first.path();
        QVERIFY(first.path().startsWith(runtime.path() + QStringLiteral("/tessivo128-")));
        QVERIFY(second.path().startsWith(runtime.path() + QStringLiteral("/tessivo128-")));
        QVERIFY(first.path() != second.path());
        QCOMPARE(QFile::permissions(first.path()) & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup),
                 QFile::Permissions());

        // What one console writes, the other never reads.
        const ConsolePaths one{QString(), first.path()};
        const ConsolePaths other{QString(), second.path()};
        QFile picture(one.testPicture());
        QVERIFY(picture.open(QIODevice::WriteOnly));
        picture.write("frame");
        picture.close();
        QVERIFY(!QFile::exists(other.testPicture()));
    }
    QVERIFY2(!QFileInfo::exists(firstPath), "a console's scratch folder stays after it ended");
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestFlowsInstalled::recognitionFromInstalledTree()
{
    const QString prefix = qEnvironmentVariable("TESSIVO_INSTALL_PREFIX");
    if (prefix.isEmpty())
        QSKIP("TESSIVO_INSTALL_PREFIX is not set (the install check runs this case)");
    const QString shipped = ConsolePaths::shippedFolderFor(prefix + QStringLiteral("/bin"));
    QCOMPARE(shipped, QDir::cleanPath(prefix + QStringLiteral("/share/tessivo128")));

    QTemporaryDir work; // the working directory both consoles were started in
    FlowsTest::MessageBoxAnswerer boxes;
    ScratchFolder scratchOfSeven;
    ScratchFolder scratchOfNine;
    const QString result = work.filePath(QStringLiteral("result"));
    const QString log = work.filePath(QStringLiteral("log.txt"));
    Console seven(ConsolePaths{shipped, scratchOfSeven.path(), result, log}, 7);
    Console nine(ConsolePaths{shipped, scratchOfNine.path(), result, log}, 9);
    QVERIFY(seven.startRecognising());
    QVERIFY(nine.startRecognising());
    QTRY_COMPARE_WITH_TIMEOUT(seven.answer(), QStringLiteral("Result: 7"), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(nine.answer(), QStringLiteral("Result: 9"), 15000);
    // Still each its own after further attempts.
    QTest::qWait(2500);
    QCOMPARE(seven.answer(), QStringLiteral("Result: 7"));
    QCOMPARE(nine.answer(), QStringLiteral("Result: 9"));
}

FLOWS_TEST_MAIN(TestFlowsInstalled)
#include "tst_flows_installed.moc"
