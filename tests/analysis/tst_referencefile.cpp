// Saved references: the HDF5 round trip, loading a recording's references,
// failures as sentences and the range warning.
#include "acquisition/Hdf5RunSink.h"
#include "analysis/ReferenceFile.h"
#include "analysis/SavedReferences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

namespace {

using Clock = std::chrono::system_clock;
using std::chrono::microseconds;

// A moment with microseconds, as the file keeps it.
Clock::time_point at(long long unixMicroseconds)
{
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(microseconds(unixMicroseconds)));
}

std::vector<double> pattern(double offset)
{
    std::vector<double> values(16384);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = offset + 0.001 * double(i) - 3.0 * double(i % 7);
    values[130] = std::numeric_limits<double>::quiet_NaN(); // a dead pixel stays a dead pixel
    return values;
}

ReferenceSet sampleSet()
{
    ReferenceSet set;
    set.fullOff = pattern(-2.5);
    set.fullOn = pattern(400.0);
    set.fullOffTaken = at(1765000000123456);
    set.fullOnTaken = at(1765000042654321);
    set.currentRangeNa = 100.0;
    set.vbias1Volts = 1.25;
    set.vbias2Volts = -0.5;
    set.vonVolts = 3.3;
    set.voffVolts = 0.1;
    return set;
}

// Equal bit for bit, so that NaN pixels compare too.
bool sameValues(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void compareSets(const ReferenceSet &loaded, const ReferenceSet &saved)
{
    QVERIFY(sameValues(loaded.fullOff, saved.fullOff));
    QVERIFY(sameValues(loaded.fullOn, saved.fullOn));
    QVERIFY(loaded.fullOffTaken == saved.fullOffTaken);
    QVERIFY(loaded.fullOnTaken == saved.fullOnTaken);
    QCOMPARE(loaded.currentRangeNa, saved.currentRangeNa);
    QCOMPARE(loaded.vbias1Volts, saved.vbias1Volts);
    QCOMPARE(loaded.vbias2Volts, saved.vbias2Volts);
    QCOMPARE(loaded.vonVolts, saved.vonVolts);
    QCOMPARE(loaded.voffVolts, saved.voffVolts);
}

} // namespace

class TestReferenceFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void recordingLoads();
    void failureIsOneSentence_data();
    void failureIsOneSentence();
    void failedSaveKeepsTheFileThere();
    void rangeWarning_data();
    void rangeWarning();

private:
    QTemporaryDir m_dir;
};

void TestReferenceFile::roundTrip_data()
{
    QTest::addColumn<bool>("offMeasured");
    QTest::addColumn<bool>("onMeasured");
    QTest::newRow("both measured") << true << true;
    QTest::newRow("full-off never measured") << false << true;
    QTest::newRow("neither measured") << false << false;
}

void TestReferenceFile::roundTrip()
{
    QFETCH(bool, offMeasured);
    QFETCH(bool, onMeasured);
    ReferenceSet saved = sampleSet();
    if (!offMeasured)
        saved.fullOffTaken.reset();
    if (!onMeasured)
        saved.fullOnTaken.reset();
    const QString path = m_dir.filePath(QStringLiteral("%1.h5").arg(QTest::currentDataTag()));
    QString error;
    QVERIFY2(ReferenceFile::save(path, saved, &error), qPrintable(error));
    QVERIFY(!QFile::exists(path + ".partial"));
    const std::optional<ReferenceSet> loaded = ReferenceFile::load(path, &error);
    QVERIFY2(loaded, qPrintable(error));
    compareSets(*loaded, saved);
}

// A recording's references are laid out the same way: they load as references.
void TestReferenceFile::recordingLoads()
{
    SaveRunPlan plan;
    plan.folder = m_dir.path();
    plan.name = QStringLiteral("run");
    plan.hdf5 = true;
    plan.metadata.vbias1Volts = 1.5;
    plan.metadata.vbias2Volts = 2.5;
    plan.metadata.vonVolts = 3.0;
    plan.metadata.voffVolts = 0.25;
    plan.metadata.currentRangeNa = 800.0;
    RunReferences references;
    references.fullOff = pattern(1.0);
    references.fullOn = pattern(600.0);
    references.fullOnTaken = at(1765000100000001);
    Hdf5RunSink sink;
    QString error;
    QVERIFY2(sink.open(plan, &error), qPrintable(error));
    QVERIFY2(sink.finish(references, false, &error), qPrintable(error));

    const std::optional<ReferenceSet> loaded = ReferenceFile::load(Hdf5RunSink::filePath(plan), &error);
    QVERIFY2(loaded, qPrintable(error));
    QVERIFY(sameValues(loaded->fullOn, references.fullOn));
    QVERIFY(loaded->fullOnTaken == references.fullOnTaken);
    QVERIFY(!loaded->fullOffTaken); // never measured: NaN time in the recording
    QCOMPARE(loaded->currentRangeNa, 800.0);
    QCOMPARE(loaded->vbias2Volts, 2.5);
    QCOMPARE(loaded->voffVolts, 0.25);
}

void TestReferenceFile::failureIsOneSentence_data()
{
    QTest::addColumn<QString>("content"); // what the file holds; "-" for no file
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such file") << "-" << "there is no such file";
    QTest::newRow("a text file") << "full_off;full_on\n" << "it is not an HDF5 file";
    QTest::newRow("HDF5 without references") << "hdf5" << "it holds no /references/full_off";
}

void TestReferenceFile::failureIsOneSentence()
{
    QFETCH(QString, content);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(QStringLiteral("broken %1.h5").arg(QTest::currentDataTag()));
    if (content == QLatin1String("hdf5")) {
        // A reference file whose references group was taken out.
        QString error;
        QVERIFY(ReferenceFile::save(path, sampleSet(), &error));
        const hid_t file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDWR, H5P_DEFAULT);
        QVERIFY(file >= 0);
        QVERIFY(H5Ldelete(file, "references", H5P_DEFAULT) >= 0);
        H5Fclose(file);
    } else if (content != QLatin1String("-")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content.toUtf8());
    }
    QString error;
    QVERIFY(!ReferenceFile::load(path, &error));
    QCOMPARE(error, QStringLiteral("The references could not be loaded from %1: %2.")
                        .arg(QDir::toNativeSeparators(path), reason));
}

void TestReferenceFile::failedSaveKeepsTheFileThere()
{
    const QString path = m_dir.filePath(QStringLiteral("kept.h5"));
    QString error;
    QVERIFY(ReferenceFile::save(path, sampleSet(), &error));
    // The new file cannot be written beside it: the one there stays whole.
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("kept.h5.partial")));
    ReferenceSet other = sampleSet();
    other.currentRangeNa = 1.0;
    QVERIFY(!ReferenceFile::save(path, other, &error));
    QVERIFY2(error.startsWith(QStringLiteral("The references could not be saved to %1: ")
                                  .arg(QDir::toNativeSeparators(path))),
             qPrintable(error));
    QVERIFY(error.endsWith(QLatin1Char('.')));
    const std::optional<ReferenceSet> loaded = ReferenceFile::load(path, &error);
    QVERIFY2(loaded, qPrintable(error));
    compareSets(*loaded, sampleSet());
}

void TestReferenceFile::rangeWarning_data()
{
    QTest::addColumn<double>("taken");
    QTest::addColumn<double>("current");
    QTest::addColumn<QString>("warning");
    QTest::newRow("100 at 800") << 100.0 << 800.0
                                << "These references were taken at 100 nA; the current range is 800 nA.";
    QTest::newRow("fractional gear") << 2.5 << 1.0
                                     << "These references were taken at 2.5 nA; the current range is 1 nA.";
    QTest::newRow("same range") << 10.0 << 10.0 << QString();
}

void TestReferenceFile::rangeWarning()
{
    QFETCH(double, taken);
    QFETCH(double, current);
    QFETCH(QString, warning);
    ReferenceSet set;
    set.currentRangeNa = taken;
    QCOMPARE(SavedReferences::rangeWarning(set, current), warning);
}

QTEST_GUILESS_MAIN(TestReferenceFile)
#include "tst_referencefile.moc"
