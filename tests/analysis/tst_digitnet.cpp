// The training tool's export: the TorchScript file shipped to the console
// must compute what the network computed in training (batch normalisation
// folded into the convolutions, the same layers in the same order).
#include "tools/train_digits/DigitNet.h"

#include <QTemporaryDir>
#include <QTest>

class TestDigitNet : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;

private slots:
    void initTestCase() { QVERIFY(work.isValid()); }

    void exportedNetComputesTheTrainedScores_data()
    {
        QTest::addColumn<int>("seed");
        QTest::addColumn<int>("batch");
        QTest::newRow("one picture") << 3 << 1;
        QTest::newRow("a batch, other weights") << 4 << 8;
    }

    void exportedNetComputesTheTrainedScores()
    {
        QFETCH(int, seed);
        QFETCH(int, batch);
        torch::manual_seed(seed);
        DigitNet net(DigitNetImpl::Widths{4, 8, 8, 16});
        {
            // Let the batch normalisation see data so that folding it is not a no-op.
            torch::NoGradGuard noGrad;
            net->train();
            for (int i = 0; i < 5; ++i)
                net->forward(torch::randn({16, 1, 28, 28}) * 1.5 + 0.3);
        }
        net->eval();
        const std::string path = work.filePath(QString("net%1.pt").arg(seed)).toStdString();
        net->toTorchScript().save(path);
        torch::jit::Module loaded = torch::jit::load(path);

        torch::NoGradGuard noGrad;
        const torch::Tensor x = torch::randn({batch, 1, 28, 28});
        const torch::Tensor shipped = loaded.forward({x}).toTensor();
        QCOMPARE(shipped.sizes().vec(), (std::vector<int64_t>{batch, DigitNetImpl::Classes}));
        const double difference = (shipped - net->forward(x)).abs().max().item<double>();
        QVERIFY2(difference < 1e-4, qPrintable(QString::number(difference)));
    }
};

QTEST_GUILESS_MAIN(TestDigitNet)
#include "tst_digitnet.moc"
